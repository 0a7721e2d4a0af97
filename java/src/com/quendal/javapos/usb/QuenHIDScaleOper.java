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
 * it: {@code Open} or {@code Close} through one instance acts for all of them, and may come from
 * any thread at any time. One read and one write may run on two threads at once, but a second
 * read, or a second write, while one runs gets null or false at once, through whichever
 * instance: callers serialise their reads, and their writes too.
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

    /**
     * The state of the library's device, for a till to show, in the form {@code "WORD N"} or
     * {@code "WORD N: HINT"}. WORD is one of:
     * <ul>
     * <li>{@code closed}: never opened, or closed;</li>
     * <li>{@code open}: open, and its last read or write reached the device;</li>
     * <li>{@code searching}: the device has gone (unplugged, or re-enumerating after a firmware
     * flash); reads and writes find it again by themselves when it is back;</li>
     * <li>{@code denied}: found, but this user may not open it; HINT says what to do (on Linux
     * the udev rule to install, or the group the user lacks); the library opens it as soon as
     * it may;</li>
     * <li>{@code busy}: found, but another program holds it.</li>
     * </ul>
     * N counts the times the library found the device again since the last {@code Open}.
     * Examples: {@code "open 0"}, {@code "searching 2"},
     * {@code "denied 0: the udev rule gives it to group plugdev, and this user is not in it: add
     * the user to that group and start again"} (the probe's hint). Callable from any thread at
     * any time, also while another thread reads; it may search the HID interfaces present (a few
     * milliseconds) to find a hint. Null only when the JVM has no memory for the string.
     */
    public static native String DeviceState();
}
