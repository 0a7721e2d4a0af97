package com.quendal.javapos.usb;

/**
 * Native access to the maker's USB HID barcode scanner (or, through {@link #OpenScale()}, a
 * scale), backed by the {@code scannerlink} library.
 *
 * <p>The library holds one device for the whole process, and every instance of this class shares
 * it, the reading mode included: {@code Open}, {@code Close} or {@code SetMode} through one
 * instance acts for all of them. {@code Open}, {@code OpenScale} and {@code Close} may come from
 * any thread at any time. One read and one write may run on two threads at once, but a second
 * read, or a second write, while one runs gets null or false at once, through whichever
 * instance: callers serialise their reads, and their writes too.
 *
 * <p>Every method blocks the calling thread for a bounded time: a read waits at most 500 ms for
 * each report, and a segmented read takes at most 64 reports (32 s when the scanner keeps
 * announcing continuations); a write at most 6 s. On Linux {@code Open}, {@code OpenScale} and
 * {@code Close} may also wait while a write to any USB HID device of the machine waits for a
 * device that does not take its report (the kernel's hidraw lock): up to 5 s for each such write,
 * about 10 s when such writes follow back to back.
 *
 * <p>The scanner's input reports: byte 0 the report ID; byte 1 the length byte L, the position of
 * the last meaningful byte; bytes 2 to 4 header; byte 5 the continuation byte (above 0 as a signed
 * byte: another report of the same message follows); bytes 6 to L the data. Bytes 0 to 5 are the
 * six-byte header that segmented reading drops.
 */
public class QuenHIDOper {
    static {
        System.loadLibrary("scannerlink");
    }

    /** Finds the scanner (usage 0x4A00, else 0x4B00) and opens it; false if none is present. */
    public native boolean Open();

    /** True when a scanner is present; opens nothing. */
    public native boolean IsDeviceExist();

    /** Finds a scale (usage 0x6E00) and opens it in place of the scanner. */
    public native boolean OpenScale();

    /** Closes the device's channels; always true. */
    public native boolean Close();

    /**
     * Sends the characters' low bytes as one output report after report ID 0, padded or cut to
     * the device's report length. True when the device took it within 6 s.
     */
    public native boolean write(char[] data);

    /**
     * Reads one message: in single-report mode one report, bytes 0 to L, header included; in
     * segmented mode bytes 6 to L of each report, joined for as long as each report's continuation
     * byte announces another (at most 64 reports). At most 1024 chars: a longer message loses its
     * end but is consumed whole. Each byte becomes one char by sign extension (0x80 to 0xFF give
     * U+FF80 to U+FFFF). Null when nothing arrived within 500 ms or no device is open.
     */
    public native char[] read();

    /**
     * Chooses segmented (true) or single-report (false) reading for every instance; returns the
     * mode now set. The mode stays across {@code Close} and {@code Open}.
     */
    public native boolean SetMode(boolean segmented);

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
