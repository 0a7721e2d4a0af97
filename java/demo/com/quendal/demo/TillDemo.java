package com.quendal.demo;

import com.quendal.javapos.readersetupkit.ReaderSetupKit;
import com.quendal.javapos.usb.QuenHIDOper;
import com.quendal.javapos.usb.QuenHIDScaleOper;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;

/**
 * A till at work on the simulated HID bus, in real time: a scanner reads three barcodes (one of
 * them a long code that the scanner splits over three reports), a scale reports a weight while
 * goods settle on it, and the till talks to both through the Java classes as a POS application
 * does. Then the scanner's configuration is downloaded and a firmware file flashed through the
 * configuration bridge, with the project's stand-in in place of the maker's configuration library.
 * Midway the scanner's cable is reseated, and the reads carry on without the till's help.
 * The bus is described in the scenario file named by QUENLINK_SIM_SCENARIO, which this program
 * writes before the libraries first look for devices; the stand-in works in the folder named by
 * QUEN_DOUBLE_DIR.
 */
public final class TillDemo {
    private final PrintStream out;
    private final long start = System.nanoTime();

    public TillDemo(PrintStream out) {
        this.out = out;
    }

    public static void main(String[] args) throws Exception {
        new TillDemo(System.out).run(System.getenv("QUENLINK_SIM_SCENARIO"),
            System.getenv("QUEN_DOUBLE_DIR"));
    }

    /** The whole demo: the scanner, the scale, then the configuration library. */
    public void run(String scenarioFile, String standInFolder) throws Exception {
        if (standInFolder == null) {
            throw new IllegalStateException("QUEN_DOUBLE_DIR names no folder");
        }
        writeScenario(scenarioFile);
        scanner();
        scale();
        configuration(Paths.get(standInFolder));
    }

    private void scanner() {

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

        // The cable is pulled while the till waits for the next scan and put back 1.5 s later:
        // the reads find the scanner again by themselves, in the mode it was in.
        say("scanner cable pulled at 3.8 s, back at 5.3 s; the till just keeps reading");
        for (int attempt = 0; attempt < 16; attempt++) {
            char[] message = scanner.read();
            if (message == null) {
                // What a till shows its user while nothing comes: the scanner's state.
                say("  (no scan within 500 ms; scanner state: " + QuenHIDOper.DeviceState() + ")");
                continue;
            }
            say("  scan after the reseat, no Close or Open: " + text(message, 0, message.length));
            say("  scanner state: " + QuenHIDOper.DeviceState());
            break;
        }
        say("scanner closed: " + scanner.Close());
    }

    private void scale() {
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

    private void configuration(Path standIn) throws IOException {
        // The stand-in stores the number in its "result" file in the result cell, and logs what
        // it received.
        Files.createDirectories(standIn);
        Files.deleteIfExists(standIn.resolve("log"));
        Files.write(standIn.resolve("result"), "0".getBytes(StandardCharsets.US_ASCII));
        say("configuration library (the project's stand-in for the maker's):");
        int download = ReaderSetupKit.DownloadConfigFile("/etc/till/scanner.cfg", 17, 2, 4711, 3,
            5, 3, "till-04");
        say("  DownloadConfigFile(\"/etc/till/scanner.cfg\", 17, 2, 4711, 3, 5, 3, \"till-04\") = "
            + download);
        say("    the library received " + received(standIn));
        say("  FlashScannerFile(\"/etc/till/firmware.bin\", 42, -1, 0, 9, 6, 4, null): the maker's"
            + " library needs a 10 s pause after every flash ...");
        long before = System.nanoTime();
        int flash = ReaderSetupKit.FlashScannerFile("/etc/till/firmware.bin", 42, -1, 0, 9, 6, 4,
            null);
        say("  ... = " + flash + " after " + (System.nanoTime() - before) / 1000000 + " ms");
        say("    the library received " + received(standIn) + " (out-of-range values replaced)");
    }

    /** The stand-in's record of the last call, its texts decoded. */
    private static String received(Path standIn) throws IOException {
        List<String> lines = Files.readAllLines(standIn.resolve("log"));
        String call = "";
        for (String line : lines) {
            if (line.startsWith("call ")) {
                call = line;
            }
        }
        StringBuilder shown = new StringBuilder();
        for (String field : call.substring(Math.min(5, call.length())).split(" ")) {
            String[] pair = field.split("=", 2);
            if (pair.length != 2 || pair[0].equals("text3") || pair[0].equals("text2IsText3")
                || pair[0].equals("cell") || pair[0].equals("zeros")) {
                continue;
            }
            boolean text = pair[0].startsWith("text");
            shown.append(shown.length() == 0 ? "" : " ").append(pair[0]).append('=')
                .append(text ? "\"" + units(pair[1]) + "\"" : pair[1]);
        }
        return shown.toString();
    }

    /** A text logged as four hex digits per UTF-16 unit. */
    private static String units(String hex) {
        StringBuilder text = new StringBuilder();
        for (int i = 0; i + 4 <= hex.length(); i += 4) {
            text.append((char) Integer.parseInt(hex.substring(i, i + 4), 16));
        }
        return text.toString();
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
        s.append("reseat /sim/till/scanner at=3800 away=1500\n");
        s.append(scan("/sim/till/scanner", 5900, "4012345000017", 0));
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

    private void say(String line) {
        long ms = (System.nanoTime() - start) / 1000000;
        out.printf("%6d ms  %s%n", ms, line);
    }
}
