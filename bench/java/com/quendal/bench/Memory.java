package com.quendal.bench;

import com.quendal.javapos.usb.QuenHIDOper;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * The process's resident set over many reads, writes and Open/Close cycles. The JVM runs with a
 * fixed, pre-touched heap, so what grows is native memory.
 */
final class Memory {
    static final int REPORTS_PER_BUS = 10_000;
    static final int OPEN_INTERFACES = 16;

    private final QuenHIDOper scanner;
    private final Scenario scenario;
    private final char[] data = new char[64];

    Memory(QuenHIDOper scanner, Scenario scenario) {
        this.scanner = scanner;
        this.scenario = scenario;
    }

    /** {@code reads} reads, on buses of REPORTS_PER_BUS reports each. */
    void reads(int reads) throws IOException {
        final String lines = Scenario.scannerWithReports(REPORTS_PER_BUS);
        for (int done = 0; done < reads; done += REPORTS_PER_BUS) {
            scenario.set(lines);
            if (!scanner.Open()) {
                throw new IllegalStateException("the scanner did not open");
            }
            for (int i = 0; i < REPORTS_PER_BUS; ++i) {
                if (scanner.read() == null) {
                    throw new IllegalStateException("a read failed");
                }
            }
        }
    }

    /** {@code writes} writes on one bus: whatever it keeps of them stays. */
    void writes(int writes) throws IOException {
        scenario.set(Scenario.interfaces(1));
        if (!scanner.Open()) {
            throw new IllegalStateException("the scanner did not open");
        }
        for (int i = 0; i < writes; ++i) {
            if (!scanner.write(data)) {
                throw new IllegalStateException("a write failed");
            }
        }
    }

    void openCloseCycles(int cycles) throws IOException {
        scenario.set(Scenario.interfaces(OPEN_INTERFACES));
        for (int i = 0; i < cycles; ++i) {
            if (!scanner.Open() || !scanner.Close()) {
                throw new IllegalStateException("Open or Close failed");
            }
        }
    }

    /** VmRSS of this process in kB (Linux). */
    static long residentKb() throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new IllegalStateException("no VmRSS in /proc/self/status");
    }
}
