package com.quendal.javapos.usb;

import static com.quendal.javapos.usb.DeviceControllerLink.SCANNER;
import static com.quendal.javapos.usb.DeviceControllerLink.zeros;
import static com.quendal.javapos.usb.GuestChecks.check;
import static com.quendal.javapos.usb.GuestChecks.run;

import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Arrays;

/**
 * What a till's service user (not root) can open with the shipped hidraw libraries, in the
 * kernel VM (tests/kernel/jvm-user-guest.sh): without a rule of ours, none of the maker's devices;
 * with the rule's group form, only the maker's, and only as a member of that group; and the
 * probe says which is the case. The devices are uhid devices that device_controller, running as
 * root beside the JVM, plugs and drives as asked.
 *
 * <p>Usage: TillUserAccess without-rule|outside-group|group PORT UDEVADM, with
 * -Dquen.hidProbe=PROBE. Prints each failed check and exits 1 if any failed.
 */
public final class TillUserAccess {
    private static final String SCALE = DeviceControllerLink.maker(0x6E00, 64, 64);

    /** The node of the device of this vendor and product, from its HID_ID in sysfs. */
    private static Path node(int vendor, int product) throws IOException {
        String id = String.format(":%08X:%08X", vendor, product);
        Path sysfs = Paths.get("/sys/class/hidraw");
        try (DirectoryStream<Path> nodes = Files.newDirectoryStream(sysfs)) {
            for (Path sys : nodes) {
                for (String line : Files.readAllLines(sys.resolve("device/uevent"))) {
                    if (line.startsWith("HID_ID=") && line.endsWith(id)) {
                        return Paths.get("/dev", sys.getFileName().toString());
                    }
                }
            }
        }
        throw new IOException("no node for " + id);
    }

    /** Checks the node's owner, group and mode: "root:root rw-------". */
    private static void checkNode(Path node, String wanted) throws IOException {
        PosixFileAttributes attributes = Files.readAttributes(node, PosixFileAttributes.class);
        String got = attributes.owner().getName() + ":" + attributes.group().getName() + " "
                + PosixFilePermissions.toString(attributes.permissions());
        check(got.equals(wanted), node + " is " + got + ", not " + wanted);
    }

    private static boolean opens(Path node) {
        try {
            new RandomAccessFile(node.toFile(), "rw").close();
            return true;
        } catch (IOException e) {
            check(e.getMessage().contains("Permission denied"), node + ": " + e.getMessage());
            return false;
        }
    }

    public static void main(String[] args) throws Exception {
        boolean ruled = !args[0].equals("without-rule");
        boolean group = args[0].equals("group");
        String status = new String(Files.readAllBytes(Paths.get("/proc/self/status")),
                StandardCharsets.US_ASCII);
        check(!status.matches("(?s).*\n[UG]id:\\s+0\\s.*"), "the JVM runs as root or group root");
        try (DeviceControllerLink devices = new DeviceControllerLink(Integer.parseInt(args[1]))) {
            // The same scanner under another vendor: the rule must key on the vendor alone.
            devices.plug(0x1A2B, 0x0101, SCANNER, "Other scanner");
            String scanner = devices.plug(0x2E5A, 0x0101, SCANNER, "Quen scanner");
            String scale = devices.plug(0x2E5A, 0x0201, SCALE, "Quen scale");
            // udevd sets a node's group and mode some time after the node appears.
            StringBuilder output = new StringBuilder();
            check(run(output, args[2], "settle", "--timeout=60") == 0, "udevadm settle: " + output);
            String maker = ruled ? "root:plugdev rw-rw----" : "root:root rw-------";
            checkNode(node(0x2E5A, 0x0101), maker);
            checkNode(node(0x2E5A, 0x0201), maker);
            checkNode(node(0x1A2B, 0x0101), "root:root rw-------");
            check(!opens(node(0x1A2B, 0x0101)), "this user opens the other vendor's node");
            check(opens(node(0x2E5A, 0x0101)) == group, "this user's open of the scanner's node");

            QuenHIDOper scanners = new QuenHIDOper();
            check(scanners.Open(), "scanner: Open");
            // A report of the length the scanner declares: L = 12, three header bytes, the
            // continuation, then the data.
            devices.send(scanner, "0C00000000" + "34303036333831" + zeros(52));
            char[] read = scanners.read();
            char[] sent = {0, 12, 0, 0, 0, 0, '4', '0', '0', '6', '3', '8', '1'};
            check(group ? Arrays.equals(read, sent) : read == null,
                    "scanner: read " + (read == null ? "null" : new String(read)));
            check(scanners.write(new char[] {'A'}) == group, "scanner: write");
            if (group) {
                check(devices.output(scanner, 5000).equalsIgnoreCase("0041" + zeros(63)),
                        "scanner: the device got no or another report");
            }
            scanners.Close();

            QuenHIDScaleOper scales = new QuenHIDScaleOper();
            check(scales.Open(), "scale: Open");
            devices.send(scale, "07" + zeros(63));
            read = scales.read();
            check(group ? read != null && read.length == 64 && read[0] == 0 && read[1] == 7
                                  && read[63] == 0
                        : read == null,
                    "scale: read " + (read == null ? "null" : Arrays.toString(read)));
            check(scales.write(new char[] {'Z'}) == group, "scale: write");
            if (group) {
                check(devices.output(scale, 5000).equalsIgnoreCase("005A" + zeros(63)),
                        "scale: the device got no or another report");
            }
            scales.Close();

            output.setLength(0);
            int probe = run(output, System.getProperty("quen.hidProbe"));
            System.out.print(output);
            check(probe == (group ? 0 : 2), "the probe exited with " + probe);
            // Installing the rule is the remedy only where no rule applies.
            String hint = "cannot be opened: permission denied: "
                    + (ruled ? "the udev rule gives it to group plugdev, and this user is not in it"
                             : "install the udev rule 70-quenlink.rules");
            check(group || output.toString().contains(hint),
                    "the probe gave no or another permission hint");
        }
        GuestChecks.finish(args[0]);
    }
}
