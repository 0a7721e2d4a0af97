# What this host can execute, asked of the host itself rather than guessed from uname: some
# x86_64 kernels refuse 32-bit programs although their configuration says they have the emulation.
# Sourced by the entry-point scripts and by the kernel tests' runners.

# write_elf32 FILE: the smallest 32-bit x86 Linux program, 96 bytes: one load segment whose code
# is exit(42) through int 0x80. Static and without a loader, so the answer depends on the kernel
# alone, not on any i386 package being installed.
write_elf32() {
    local header code
    # ELF header: 32-bit, little-endian, executable for the 80386, entry 0x08048054, one program
    # header at byte 52.
    header='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'
    header+='\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00'
    header+='\x01\x00\x00\x00\x00\x00\x00\x00'
    # Program header: PT_LOAD of the whole file (96 bytes) at 0x08048000, read and execute.
    header+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    header+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    # mov eax, 1 (exit); mov ebx, 42; int 0x80
    code='\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
    printf "$header$code" >"$1"
    chmod +x "$1"
}

# host_runs_32bit [PROGRAM]: true when the kernel runs a 32-bit x86 program. PROGRAM (default: one
# written by write_elf32) must exit with 42 when it runs; a kernel without the emulation refuses
# it with "Exec format error" (status 126).
host_runs_32bit() {
    local program=${1:-} folder="" status=0
    if [ -z "$program" ]; then
        folder=$(mktemp -d)
        program=$folder/elf32
        write_elf32 "$program"
    fi
    "$program" >/dev/null 2>&1 || status=$?
    [ -z "$folder" ] || rm -rf "$folder"
    [ "$status" -eq 42 ]
}

# wine_runs_in_vm: true when the tests that need Wine must run inside the kernel VM: the host
# cannot run 32-bit programs (Wine's 32-bit loader, and the start of every win64 prefix, need
# them), or QUEN_WINE_IN_VM=1 asks for that path on a host that could take the faster one.
wine_runs_in_vm() {
    [ "${QUEN_WINE_IN_VM:-0}" = 1 ] || ! host_runs_32bit
}
