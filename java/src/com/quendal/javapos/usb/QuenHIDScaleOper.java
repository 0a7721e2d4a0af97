package com.quendal.javapos.usb;

/**
 * Native access to the maker's USB HID scale, backed by the {@code scalelink} library. A read
 * returns the scale's input reports as a block of 64-byte records, one per report, gathered until
 * the scale has been quiet for 50 ms: at most 16 reports, each waited for at most 50 ms. A write
 * blocks at most 6 s. On Linux {@code Open} and {@code Close} may also wait while a write to any
 * USB HID device of the machine waits for a device that does not take its report (the kernel's
 * hidraw lock): up to 5 s for each such write, about 10 s when such writes follow back to back.
 *
 * <p>The library holds one device for the whole process, and every instance of this class shares
 * it: {@code Open} or {@code Close} through one instance acts for all of them. Callers serialise
 * {@code Open}, {@code Close}, reads and writes across all instances: one read and one write may
 * run on two threads at once, but never two reads, two writes, or an {@code Open} or
 * {@code Close} beside a read or a write.
 */
public class QuenHIDScaleOper {
    static {
        System.loadLibrary("scalelink");
    }

    /** Finds the scale (usage 0x6E00) and opens it; false if none is present. */
    public native boolean Open();

    /** True when a scale is present; opens nothing. */
    public native boolean IsDeviceExist();

    /** Closes the device's channels; always true. */
    public native boolean Close();

    /**
     * Sends the characters' low bytes as one output report after report ID 0, padded or cut to
     * the device's report length. True when the device took it within 6 s.
     */
    public native boolean write(char[] data);

    /**
     * Reads one block: 64 chars per report, bytes 0 to 63 of the report (report ID first, zeros
     * past a short report; a longer report is cut to 64 bytes), each byte sign-extended to a
     * char. At most 16 reports per call; later ones come with the next call. Null when the scale
     * sent nothing within 50 ms or no scale is open.
     */
    public native char[] read();
}
