package com.quendal.bench;

import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.Pointer;
import com.sun.jna.Structure;
import com.sun.jna.WString;

/**
 * Debian's hidapi, hidraw backend (libhidapi-hidraw), bound through JNA the way a Java developer
 * usually binds it: an interface of the functions called, loaded with {@link Native#load}, and
 * the device list as a {@link Structure} whose {@code next} field JNA follows when it reads the
 * list. Only the functions the benchmark's peer calls.
 */
interface Hidapi extends Library {
    Hidapi INSTANCE = Native.load("hidapi-hidraw", Hidapi.class);

    /** The interfaces of vendor {@code vendorId} (product 0: any), or null when there is none. */
    DeviceInfo hid_enumerate(short vendorId, short productId);

    /** Takes the list's own pointer: JNA would write a Structure argument back before the call. */
    void hid_free_enumeration(Pointer devices);

    Pointer hid_open_path(String path);

    /** {@code length} is a size_t, 64 bits on the platforms this runs on. */
    int hid_read_timeout(Pointer device, byte[] data, long length, int milliseconds);

    void hid_close(Pointer device);

    /** struct hid_device_info of hidapi 0.13, field for field. */
    @Structure.FieldOrder({"path", "vendor_id", "product_id", "serial_number", "release_number",
            "manufacturer_string", "product_string", "usage_page", "usage", "interface_number",
            "next", "bus_type"})
    class DeviceInfo extends Structure {
        public String path;
        public short vendor_id;
        public short product_id;
        public WString serial_number;
        public short release_number;
        public WString manufacturer_string;
        public WString product_string;
        public short usage_page;
        public short usage;
        public int interface_number;
        public ByReference next;
        public int bus_type;

        /** The type of {@code next}: JNA reads the entry it points to with this one. */
        public static class ByReference extends DeviceInfo implements Structure.ByReference {}
    }
}
