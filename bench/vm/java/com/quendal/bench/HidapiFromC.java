package com.quendal.bench;

/**
 * A peer of the bridge: the same hidapi calls as {@link HidapiThroughJna}, made from C
 * (bench/vm/hidapi_peer_jni.cpp), the list filtered there: what a native developer would have.
 */
final class HidapiFromC {
    static {
        System.loadLibrary("quenbenchhidapi");
    }

    private HidapiFromC() {}

    /** Closes the scanner if open, then finds and opens it: false when it is not there. */
    static native boolean open();

    static native void close();

    /** hid_read_timeout with the scanner's time-out: the report as chars, or null. */
    static native char[] read();

    /** Reads and drops the reports already queued: how many there were. */
    static native int drain();
}
