package com.quendal.bench;

/**
 * The JNI floor: native methods of the benchmark's own that do no more than a bridge call must,
 * shaped like the bridge's own methods. Each bridge figure is given as a multiple of these.
 */
final class JniFloor {
    static {
        System.loadLibrary("quenbenchfloor");
    }

    /** A new 64-char array, filled like a 64-byte scanner report. */
    native char[] read();

    /** A new 1024-char array, filled like a scale's block of 16 records. */
    native char[] readBlock();

    /** Copies the first 64 chars out of {@code data}; always true. */
    native boolean write(char[] data);

    /** Asks the array's length, then copies up to 64 chars out of it; always true. */
    native boolean writeSized(char[] data);
}
