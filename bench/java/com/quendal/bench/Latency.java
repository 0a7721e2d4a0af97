package com.quendal.bench;

import com.quendal.javapos.usb.QuenHIDOper;
import java.io.IOException;

/**
 * From a report's scheduled arrival to the return of the blocked read that takes it, on the
 * simulated bus's real clock, beside the floor: a native method that blocks on a bare condition
 * variable until the same moments. The scenario pins the bus's time 0 to a System.nanoTime
 * reading, so this JVM knows when each report is due.
 */
final class Latency {
    static final int REPORTS = 1000;
    static final long SPACING_MS = 3;
    // Time for the search to take up the scenario before the first report is due.
    static final long LEAD_MS = 100;

    /** One pass: the latency of each read that was already waiting when its report was due. */
    static final class Pass {
        final double[] latencyNs;
        final int lateStarts;  // reads called only after their report was due: not counted

        Pass(double[] latencyNs, int lateStarts) {
            this.latencyNs = latencyNs;
            this.lateStarts = lateStarts;
        }
    }

    private final QuenHIDOper scanner;
    private final JniFloor floor;
    private final Scenario scenario;

    Latency(QuenHIDOper scanner, JniFloor floor, Scenario scenario) {
        this.scanner = scanner;
        this.floor = floor;
        this.scenario = scenario;
    }

    Pass bridge() throws IOException {
        final long epoch = System.nanoTime();
        StringBuilder lines = new StringBuilder("clock real epoch-ns=").append(epoch).append('\n');
        Scenario.scanner(lines);
        for (int i = 0; i < REPORTS; ++i) {
            Scenario.report(lines, LEAD_MS + i * SPACING_MS);
        }
        scenario.set(lines);
        if (!scanner.Open()) {
            throw new IllegalStateException("the scanner did not open");
        }
        double[] latency = new double[REPORTS];
        int kept = 0;
        int late = 0;
        for (int i = 0; i < REPORTS; ++i) {
            long due = epoch + (LEAD_MS + i * SPACING_MS) * 1_000_000L;
            long called = System.nanoTime();
            char[] report = scanner.read();
            long back = System.nanoTime();
            if (report == null || report.length != 64) {
                throw new IllegalStateException("report " + i + " did not arrive whole");
            }
            if (called > due) {
                ++late;
            } else {
                latency[kept++] = back - due;
            }
        }
        return new Pass(java.util.Arrays.copyOf(latency, kept), late);
    }

    Pass floor() {
        final long epoch = System.nanoTime();
        double[] latency = new double[REPORTS];
        int kept = 0;
        int late = 0;
        for (int i = 0; i < REPORTS; ++i) {
            long due = epoch + (LEAD_MS + i * SPACING_MS) * 1_000_000L;
            long called = System.nanoTime();
            char[] report = floor.readAt(due);
            long back = System.nanoTime();
            if (report == null || report.length != 64) {
                throw new IllegalStateException("the floor gave no array");
            }
            if (called > due) {
                ++late;
            } else {
                latency[kept++] = back - due;
            }
        }
        return new Pass(java.util.Arrays.copyOf(latency, kept), late);
    }
}
