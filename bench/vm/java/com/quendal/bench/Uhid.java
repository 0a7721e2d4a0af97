package com.quendal.bench;

/**
 * The kernel VM benchmark's device side and floor (bench/vm/uhid_bench_jni.cpp), in this JVM:
 * uhid devices, their input reports, and poll + read on a hidraw node of its own.
 */
final class Uhid {
    static {
        System.loadLibrary("quenbenchuhid");
    }

    private Uhid() {}

    /** Plugs in the maker's scanner, or a keyboard of another maker: its index, or -1. */
    static native int plug(boolean scanner);

    /** Unplugs the device plugged in last. */
    static native boolean unplugLast();

    /**
     * The maker's IDs the bridge searches the scanner by: vendor, usage page, then the scanner's
     * usages in order of preference.
     */
    static native int[] scannerIds();

    /** The device's hidraw node. */
    static native String node(int device);

    /** Hands {@code count} scanner reports to uhid at once. */
    static native boolean send(int device, int count);

    /** Has a thread hand one scanner report to uhid when System.nanoTime() reaches dueNs. */
    static native boolean sendAt(int device, long dueNs);

    /** Waits for that report: the System.nanoTime() just before it went to uhid, or -1. */
    static native long sentAt();

    /** Opens the floor's own two fds on {@code node} (one for each kind of floor read). */
    static native boolean floorOpen(String node);

    static native void floorClose();

    /** poll + read of one report on the floor's fd, made into a new 64-char array. */
    static native char[] floorRead();

    /** The same with poll's time-out 0, on the second fd: the bridge's own system calls. */
    static native char[] floorReadNoWait();

    /** Drops whatever the floor's fds hold; how many reports the first held. */
    static native int floorDrain();
}
