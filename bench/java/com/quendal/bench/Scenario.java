package com.quendal.bench;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.FileTime;

/**
 * The scenario file that a bridge built on the simulated bus takes up before each device search
 * (named by QUENLINK_SIM_SCENARIO), and the lines the benchmarks put in it.
 */
final class Scenario {
    static final String SCANNER = "/bench/scanner";

    // Modification times long past, one second apart per file written: the simulated platform
    // trusts a time that old, so it does not read an unchanged file again at every search (a
    // till has no scenario file: its cost is not the search's).
    private static final long PAST_MILLIS = 1_577_836_800_000L;

    // A 64-byte scanner report: ID 0, L 63 (every byte counts), the header, 58 data bytes.
    private static final String REPORT_BYTES;

    static {
        StringBuilder bytes = new StringBuilder(" 00 3f 00 00 00 00");
        for (int i = 6; i < 64; ++i) {
            bytes.append(" 41");
        }
        REPORT_BYTES = bytes.toString();
    }

    private final Path file;
    private int generation;

    Scenario() {
        String name = System.getenv("QUENLINK_SIM_SCENARIO");
        if (name == null || name.isEmpty()) {
            throw new IllegalStateException("QUENLINK_SIM_SCENARIO is not set");
        }
        file = Paths.get(name);
    }

    /** Replaces the bus with these lines at the next search; a fresh bus even if they repeat. */
    void set(CharSequence lines) throws IOException {
        ++generation;
        String text = "# generation " + generation + "\n" + lines;
        Files.write(file, text.getBytes(StandardCharsets.US_ASCII));
        Files.setLastModifiedTime(file, FileTime.fromMillis(PAST_MILLIS + generation * 1000L));
    }

    static StringBuilder scanner(StringBuilder lines) {
        return lines.append("interface ").append(SCANNER)
                .append(" vendor=0x2E5A product=0x0101 page=0xFF45 usage=0x4A00 in=64 out=64\n");
    }

    /** A keyboard of another maker: the search asks its attributes and passes on. */
    static StringBuilder foreign(StringBuilder lines, int index) {
        return lines.append("interface /bench/other").append(index)
                .append(" vendor=0x045E product=0x0001 page=0x0001 usage=0x0006 in=9 out=2\n");
    }

    static StringBuilder report(StringBuilder lines, long atMs) {
        return lines.append("report ").append(SCANNER).append(" at=").append(atMs)
                .append(REPORT_BYTES).append('\n');
    }

    /** The scanner with {@code count} reports waiting at time 0. */
    static String scannerWithReports(int count) {
        StringBuilder lines = scanner(new StringBuilder(count * 220 + 100));
        for (int i = 0; i < count; ++i) {
            report(lines, 0);
        }
        return lines.toString();
    }

    /** {@code count} interfaces: count - 1 of another maker enumerate before the scanner. */
    static String interfaces(int count) {
        StringBuilder lines = new StringBuilder();
        for (int i = 1; i < count; ++i) {
            foreign(lines, i);
        }
        return scanner(lines).toString();
    }
}
