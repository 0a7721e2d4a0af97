package com.quendal.demo;

import com.quendal.javapos.usb.QuenHIDOper;
import com.quendal.javapos.usb.QuenHIDScaleOper;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * A till at work on the simulated HID bus, in real time: a scanner reads three barcodes (one of
 * them a long code that the scanner splits over three reports), a scale reports a weight while
 * goods settle on it, and the till talks to both through the Java classes as a POS application
 * does. The bus is described in the scenario file named by QUENLINK_SIM_SCENARIO, which this
 * program writes before the libraries first look for devices.
 */
public final class TillDemo {
    private static final long START = System.nanoTime();

    public static void main(String[] args) throws Exception {
        writeScenario(System.getenv("QUENLINK_SIM_SCENARIO"));

        QuenHIDOper scanner = new QuenHIDOper();
        say("scanner present: " + scanner.IsDeviceExist());
        say("scanner open: " + scanner.Open());
        say("beep command sent: " + scanner.write("\u0002BEEP".toCharArray()));

        int scans = 0;
        for (int attempt = 0; attempt < 10 && scans < 2; attempt++) {
            char[] report = scanner.read();
            if (report == null) {
                say("  (no scan within 500 ms)");
                continue;
            }
            scans++;
            say("  scan, single-report mode: " + report.length + " chars, barcode "
                + text(report, 6, report.length));
        }

        say("segmented mode: " + scanner.SetMode(true));
        for (int attempt = 0; attempt < 10; attempt++) {
            char[] message = scanner.read();
            if (message != null) {
                say("  scan, segmented mode: " + message.length
                    + " chars joined: " + text(message, 0, message.length));
                break;
            }
        }
        say("scanner closed: " + scanner.Close());

        QuenHIDScaleOper scale = new QuenHIDScaleOper();
        say("scale present: " + scale.IsDeviceExist());
        say("scale open: " + scale.Open());
        say("zero command sent: " + scale.write("Z".toCharArray()));
        boolean stable = false;
        for (int attempt = 0; attempt < 100 && !stable; attempt++) {
            char[] block = scale.read();
            if (block == null) {
                continue; // quiet for 50 ms
            }
            say("  block of " + block.length / 64 + " records");
            for (int at = 0; at < block.length; at += 64) {
                stable = block[at + 1] == 'S';
                say("    weight " + text(block, at + 2, at + 11)
                    + (stable ? " stable" : " moving"));
            }
        }
        say("scale closed: " + scale.Close());
    }

    private static void writeScenario(String file) throws IOException {
        if (file == null) {
            throw new IllegalStateException("QUENLINK_SIM_SCENARIO names no file");
        }
        StringBuilder s = new StringBuilder();
        s.append("clock real\n");
        s.append("interface /sim/till/scanner vendor=0x2E5A product=0x0101 page=0xFF45"
            + " usage=0x4A00 in=64 out=64\n");
        s.append("interface /sim/till/scale vendor=0x2E5A product=0x0201 page=0xFF45"
            + " usage=0x6E00 in=64 out=64 latency=3\n");
        s.append(scan("/sim/till/scanner", 700, "4006381333931", 0));
        s.append(scan("/sim/till/scanner", 1600, "5012345678900", 0));
        String longCode = "https://shop.example/receipt/2026-12-07/till-04/000421?total=23.80";
        long at = 2600;
        for (int part = 0; part * 30 < longCode.length(); part++) {
            String piece =
                longCode.substring(part * 30, Math.min(longCode.length(), part * 30 + 30));
            boolean more = (part + 1) * 30 < longCode.length();
            s.append(scan("/sim/till/scanner", at, piece, more ? 1 : 0));
            at += 8;
        }
        // The scale reports in bursts while goods settle, then a stable weight. Each library has
        // a bus of its own, whose clock starts at that library's first search.
        String[] weights = {"  0.312kg", "  0.498kg", "  0.503kg", "  0.502kg"};
        for (int burst = 0; burst < weights.length; burst++) {
            char status = burst == weights.length - 1 ? 'S' : 'M';
            for (int k = 0; k < 3; k++) {
                s.append(
                    report("/sim/till/scale", 600 + burst * 300 + k * 10, status, weights[burst]));
            }
        }
        Files.write(Paths.get(file), s.toString().getBytes(StandardCharsets.UTF_8));
    }

    /** A scanner report: ID 0, L, three header bytes, continuation, the code's bytes. */
    private static String scan(String path, long at, String code, int continuation) {
        StringBuilder hex = new StringBuilder();
        hex.append("report ").append(path).append(" at=").append(at);
        hex.append(String.format(" 00 %02x 03 00 00 %02x", 5 + code.length(), continuation));
        for (char c : code.toCharArray()) {
            hex.append(String.format(" %02x", (int) c));
        }
        return hex.append('\n').toString();
    }

    /** A scale report as this demo's scale sends it: ID 0, status, the weight as text. */
    private static String report(String path, long at, char status, String text) {
        StringBuilder hex = new StringBuilder();
        hex.append("report ").append(path).append(" at=").append(at);
        hex.append(String.format(" 00 %02x", (int) status));
        for (char c : text.toCharArray()) {
            hex.append(String.format(" %02x", (int) c));
        }
        return hex.append('\n').toString();
    }

    private static String text(char[] chars, int from, int to) {
        StringBuilder out = new StringBuilder();
        for (int i = from; i < to && i < chars.length; i++) {
            out.append(chars[i] >= 0x20 && chars[i] < 0x7F ? chars[i] : '.');
        }
        return out.toString();
    }

    private static void say(String line) {
        long ms = (System.nanoTime() - START) / 1000000;
        System.out.printf("%6d ms  %s%n", ms, line);
    }
}
