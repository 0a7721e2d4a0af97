package com.quendal.bench;

import com.sun.jna.Pointer;
import java.util.Arrays;
import java.util.Locale;

/**
 * A peer of the bridge: the maker's scanner found, opened and read with hidapi through JNA
 * ({@link Hidapi}), as a Java developer would. The device list is filtered here in Java, by usage
 * page and usage; a read makes the same Java array as the bridge's, the report's bytes widened to
 * chars by sign extension.
 */
final class HidapiThroughJna {
    private static final int READ_TIMEOUT_MS = 500;  // the scanner's
    private static final int REPORT_BYTES = 64;

    private final Hidapi hidapi = Hidapi.INSTANCE;
    private final short vendorId;
    private final int usagePage;
    private final int[] usages;  // in order of preference
    private final byte[] report = new byte[REPORT_BYTES];
    private Pointer device;

    /** {@code ids}: vendor, usage page, then the usages in order of preference. */
    HidapiThroughJna(int[] ids) {
        vendorId = (short) ids[0];
        usagePage = ids[1];
        usages = Arrays.copyOfRange(ids, 2, ids.length);
    }

    /** Closes the scanner if open, then finds and opens it: false when it is not there. */
    boolean open() {
        close();
        String path = find();
        device = path == null ? null : hidapi.hid_open_path(path);
        return device != null;
    }

    private String find() {
        Hidapi.DeviceInfo list = hidapi.hid_enumerate(vendorId, (short) 0);
        if (list == null) {
            return null;
        }
        try {
            for (int usage : usages) {
                for (Hidapi.DeviceInfo entry = list; entry != null; entry = entry.next) {
                    if ((entry.usage_page & 0xFFFF) == usagePage && (entry.usage & 0xFFFF) == usage) {
                        return entry.path;
                    }
                }
            }
            return null;
        } finally {
            hidapi.hid_free_enumeration(list.getPointer());
        }
    }

    /** Every interface hid_enumerate(0, 0) lists: its path, IDs, usage page and usage. */
    String describeAll() {
        Hidapi.DeviceInfo list = hidapi.hid_enumerate((short) 0, (short) 0);
        if (list == null) {
            return "nothing";
        }
        StringBuilder listed = new StringBuilder();
        for (Hidapi.DeviceInfo entry = list; entry != null; entry = entry.next) {
            listed.append(listed.length() == 0 ? "" : "; ").append(String.format(Locale.ROOT,
                    "%s %04x:%04x, usage page %04x, usage %04x, bus %d", entry.path,
                    entry.vendor_id, entry.product_id, entry.usage_page, entry.usage,
                    entry.bus_type));
        }
        hidapi.hid_free_enumeration(list.getPointer());
        return listed.toString();
    }

    /** hid_read_timeout with the scanner's time-out: the report as chars, or null. */
    char[] read() {
        int length = hidapi.hid_read_timeout(device, report, REPORT_BYTES, READ_TIMEOUT_MS);
        if (length <= 0) {
            return null;
        }
        char[] chars = new char[length];
        for (int i = 0; i < length; ++i) {
            chars[i] = (char) report[i];  // sign-extended, as the bridge widens
        }
        return chars;
    }

    /** Reads and drops the reports already queued: how many there were. */
    int drain() {
        int drained = 0;
        while (hidapi.hid_read_timeout(device, report, REPORT_BYTES, 0) > 0) {
            ++drained;
        }
        return drained;
    }

    void close() {
        if (device != null) {
            hidapi.hid_close(device);
            device = null;
        }
    }
}
