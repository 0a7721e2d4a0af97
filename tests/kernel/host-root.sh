# Sourced by a guest script of run-in-vm.sh (busybox sh). make_host_root ROOT makes ROOT a root of
# the host's own programs: every folder shared over 9p (QUEN_VM_SHARES: /usr, /etc, ...) bound in
# at its own path, the host's top-level links into /usr (merged /usr: the loaders live behind
# /lib and /lib64), and /proc, /sys, /dev (devtmpfs itself, so that hidraw nodes made later
# appear inside too), /tmp, /run and /dev/shm. `chroot ROOT PROGRAM` then runs a host program
# (Wine, a JVM) inside the VM. Calls the caller's `fail` when a share cannot be bound.
make_host_root() {
    _root=$1
    mkdir -p "$_root/root"
    for _link in bin sbin lib lib32 lib64; do
        if [ -d "/usr/$_link" ]; then
            ln -s "usr/$_link" "$_root/$_link"
        fi
    done
    mkdir -p "$_root/proc" "$_root/sys" "$_root/dev" "$_root/tmp" "$_root/run"
    mount -t proc proc "$_root/proc"
    mount -t sysfs sysfs "$_root/sys"
    mount --bind /dev "$_root/dev"
    mkdir -p /dev/shm
    for _scratch in tmp run dev/shm; do
        mount -t tmpfs tmpfs "$_root/$_scratch"
    done
    # The shares last, so that a share under /tmp (a checkout there) is not hidden by the tmpfs.
    for _folder in $(awk '$3 == "9p" { print $2 }' /proc/mounts); do
        mkdir -p "$_root$_folder" && mount --bind "$_folder" "$_root$_folder" ||
            fail "cannot bind $_folder"
    done
}
