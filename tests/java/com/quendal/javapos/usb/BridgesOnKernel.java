package com.quendal.javapos.usb;

import static com.quendal.javapos.usb.DeviceControllerLink.SCANNER;
import static com.quendal.javapos.usb.DeviceControllerLink.maker;
import static com.quendal.javapos.usb.DeviceControllerLink.scan;
import static com.quendal.javapos.usb.DeviceControllerLink.zeros;
import static com.quendal.javapos.usb.GuestChecks.check;

import java.util.Collections;
import java.util.function.Supplier;

/**
 * The kernel tests' bridge cases (tests/kernel/hidraw_bridges_test.cpp) as a till's application
 * meets them: the installed libraries, found by the JVM with no -Djava.library.path, called
 * through the real classes, against uhid devices that device_controller plugs and drives beside
 * the JVM. tests/kernel/run-arm64-till-in-vm.sh runs it with Debian's arm64 JVM on Debian's arm64
 * kernel. Prints each failed check and "measured:" lines; exits 1 if any check failed.
 *
 * <p>Usage: BridgesOnKernel PORT, with -Dquen.hidProbe=PROBE.
 */
public final class BridgesOnKernel {
    private static final int MAKER = 0x2E5A;
    private static final String SCALE = maker(0x6E00, 64, 64);
    // BootKeyboardDescriptor() of tests/support/report_descriptors.h.
    private static final String KEYBOARD = "05010906A101050719E029E7150025017501950881029501"
            + "7508810195057501050819012905910295017503910195067508150025650507190029658100C0";
    private static final long READ_MS = 500;
    private static final long SCALE_READ_MS = 50;
    // The guest runs under emulation on a shared machine: a wait may end late, never early.
    private static final long LATE_MS = 1500;

    private static final QuenHIDOper scanner = new QuenHIDOper();
    private static final QuenHIDScaleOper scale = new QuenHIDScaleOper();
    private static DeviceControllerLink devices;

    private interface Case {
        void run() throws Exception;
    }

    public static void main(String[] args) {
        int port = Integer.parseInt(args[0]);
        run(port, "find and write", BridgesOnKernel::findsOnlyTheMakersScanner);
        run(port, "read in both modes", BridgesOnKernel::readsWholeReportsAndSegmentedMessages);
        run(port, "scale blocks", BridgesOnKernel::scaleReadsBlocksAndTakesWrites);
        run(port, "time-outs", BridgesOnKernel::silentReadsTimeOutOnTheRealClock);
        run(port, "unplug and reseat", BridgesOnKernel::unplugThenReseat);
        GuestChecks.finish("bridges on the kernel");
    }

    /** One case with a connection of its own: the devices it plugged go when it ends. */
    private static void run(int port, String name, Case body) {
        System.out.println("case: " + name);
        try (DeviceControllerLink link = new DeviceControllerLink(port)) {
            devices = link;
            body.run();
        } catch (Exception e) {
            check(false, name + ": " + e);
        } finally {
            scanner.SetMode(false);
            scanner.Close();
            scale.Close();
        }
    }

    private static String plugScanner() throws Exception {
        return devices.plug(MAKER, 0x0101, SCANNER, "Quen scanner");
    }

    private static String text(char[] read) {
        return read == null ? "null" : new String(read);
    }

    private static long msSince(long startNanos) {
        return (System.nanoTime() - startNanos) / 1_000_000;
    }

    /** A read that must return null; how long it took. */
    private static long nullReadMs(String what, Supplier<char[]> read) {
        long start = System.nanoTime();
        char[] got = read.get();
        check(got == null, what + " returned " + text(got));
        return msSince(start);
    }

    private static void findsOnlyTheMakersScanner() throws Exception {
        devices.plug(0x046D, 0xC31C, KEYBOARD, "Other keyboard");
        devices.plug(MAKER, 0x0199, maker(0x4A00, 300, 64), "Quen oversized");
        String alternate = devices.plug(MAKER, 0x0101, maker(0x4B00, 64, 64), "Quen scanner");
        check(scanner.IsDeviceExist(), "IsDeviceExist");
        check(scanner.Open(), "Open");
        check(scanner.write("A\u0142".toCharArray()), "write");
        // Report ID 0, the low bytes of the chars, zeros to the output report's length.
        String sent = devices.output(alternate, 2000);
        check(sent.equalsIgnoreCase("004142" + zeros(62)), "the device got " + sent);
        // The probe marks what the bridge took; its output goes to the console for the record.
        StringBuilder output = new StringBuilder();
        int probe = GuestChecks.run(output, System.getProperty("quen.hidProbe"));
        System.out.print(output);
        check(probe == 0 && output.indexOf("<- the scanner") > 0, "the probe exited " + probe);
        check(!scanner.OpenScale(), "OpenScale found no scale and is true");
        check(!scale.IsDeviceExist(), "the scale bridge finds a scale");
    }

    private static void readsWholeReportsAndSegmentedMessages() throws Exception {
        String device = plugScanner();
        check(scanner.Open(), "Open");
        devices.send(device, scan("4006381", 0));
        // Report ID 0 in front, then the report up to L.
        String single = new String(new char[] {0, 12, 0, 0, 0, 0}) + "4006381";
        String read = text(scanner.read());
        check(read.equals(single), "single-report read " + read);

        check(scanner.SetMode(true), "SetMode");
        devices.send(device, scan("https://shop.ex", 1));
        devices.send(device, scan("ample/r/421?t=", 1));
        devices.send(device, scan("23.80", 0));
        read = text(scanner.read());
        check(read.equals("https://shop.example/r/421?t=23.80"), "segmented read " + read);
    }

    private static void scaleReadsBlocksAndTakesWrites() throws Exception {
        String device = devices.plug(MAKER, 0x0201, SCALE, "Quen scale");
        check(scale.Open(), "Open");
        for (int i = 0; i < 20; ++i) {
            String bytes = String.format("%02X", i);
            devices.send(device, String.join("", Collections.nCopies(64, bytes)));
        }
        // Record n holds report n after its ID byte 0; 63 report bytes after the ID fit a record.
        char[] first = scale.read();
        check(first != null && first.length == 16 * 64 && first[0] == 0 && first[1] == 0
                        && first[15 * 64 + 1] == 15 && first[15 * 64 + 63] == 15,
                "the first block: " + (first == null ? "null" : first.length + " chars"));
        char[] rest = scale.read();
        check(rest != null && rest.length == 4 * 64 && rest[3 * 64 + 1] == 19,
                "the second block: " + (rest == null ? "null" : rest.length + " chars"));
        nullReadMs("a third read", scale::read);

        check(scale.write(new char[] {'Z'}), "write");
        String sent = devices.output(device, 2000);
        check(sent.equalsIgnoreCase("005A" + zeros(63)), "the scale got " + sent);
    }

    private static void silentReadsTimeOutOnTheRealClock() throws Exception {
        plugScanner();
        devices.plug(MAKER, 0x0201, SCALE, "Quen scale");
        check(scanner.Open() && scale.Open(), "Open");
        long scannerMs = nullReadMs("a silent scanner", scanner::read);
        check(scannerMs >= READ_MS && scannerMs < READ_MS + LATE_MS, "scanner read " + scannerMs);
        long scaleMs = nullReadMs("a silent scale", scale::read);
        check(scaleMs >= SCALE_READ_MS && scaleMs < SCALE_READ_MS + LATE_MS, "scale " + scaleMs);
        System.out.printf("measured: silent scanner read %d ms (500 asked), scale %d ms (50)%n",
                scannerMs, scaleMs);
    }

    private static void unplugThenReseat() throws Exception {
        String device = plugScanner();
        check(scanner.Open(), "Open");
        Thread unplug = new Thread(() -> {
            try {
                Thread.sleep(200);
                devices.ask("unplug " + device);
            } catch (Exception e) {
                check(false, "unplug: " + e);
            }
        });
        unplug.start();
        long unpluggedMs = nullReadMs("a read during the unplug", scanner::read);
        unplug.join();
        check(unpluggedMs >= READ_MS, "a read on a gone device keeps the caller's pace");
        long goneMs = nullReadMs("a read of the gone scanner", scanner::read);
        check(goneMs >= READ_MS && goneMs < READ_MS + LATE_MS, "read of the gone one " + goneMs);
        long start = System.nanoTime();
        check(!scanner.write(new char[] {'A'}), "write to the gone scanner");
        long writeMs = msSince(start);
        check(writeMs < LATE_MS, "a write to the gone scanner took " + writeMs);
        check(!scanner.IsDeviceExist(), "IsDeviceExist after the unplug");
        System.out.printf("measured: read during unplug %d ms, next read %d ms, write %d ms%n",
                unpluggedMs, goneMs, writeMs);
        reseatNeedsNoNewOpen();
    }

    /**
     * A reseated cable as the README states it, with the bridge left open across the unplug:
     * the scanner back under its IDs, reads resume by themselves within a read and one search,
     * the first write after it reaches the device, and the state counts the recovery. The one
     * place to change when reseat recovery changes.
     */
    private static void reseatNeedsNoNewOpen() throws Exception {
        String device = plugScanner();
        long start = System.nanoTime();
        String read = "null";
        while (!read.endsWith("again") && msSince(start) < 10_000) {
            // What the device sends before the bridge's channel is open again is lost.
            devices.send(device, scan("again", 0));
            read = text(scanner.read());
        }
        long resumedMs = msSince(start);
        check(read.endsWith("again"), "reads did not resume after the reseat: " + read);
        check(resumedMs < 2 * READ_MS + LATE_MS, "reads resumed after " + resumedMs + " ms");
        check(scanner.write(new char[] {'V'}), "the first write after the reseat was lost");
        String sent = devices.output(device, 2000);
        check(sent.equalsIgnoreCase("0056" + zeros(63)), "it got " + sent);
        String state = QuenHIDOper.DeviceState();
        check(state.startsWith("open ") && !state.equals("open 0"), "state after the reseat: "
                + state);
        System.out.printf("measured: reads resumed %d ms after the reseated node appeared%n",
                resumedMs);
    }
}
