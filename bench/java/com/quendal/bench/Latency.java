package com.quendal.bench;

import com.quendal.javapos.usb.QuenHIDOper;
import java.io.IOException;
import java.util.Arrays;

/**
 * From a report's scheduled arrival to the return of the blocked read that takes it, on the
 * simulated bus's real clock, beside the floor: a native method that blocks on a bare condition
 * variable until its moment. The scenario pins the bus's time 0 to a System.nanoTime reading, so
 * this JVM knows when each report is due. Bridge and floor take turns on one schedule, a slot
 * each, so that whatever the machine's timers do over a pass, both meet it alike.
 */
final class Latency {
    static final int REPORTS = 1000;  // for each of bridge and floor, per pass
    static final long SPACING_MS = 3;
    // Time for the search to take up the scenario before the first report is due.
    static final long LEAD_MS = 100;

    /** One pass: the latency of each wait that began before its moment, in ns. */
    static final class Pass {
        final double[] bridgeNs;
        final double[] floorNs;
        final int lateStarts;  // waits that began only after their moment: not counted

        Pass(double[] bridgeNs, double[] floorNs, int lateStarts) {
            this.bridgeNs = bridgeNs;
            this.floorNs = floorNs;
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

    /** Slot 2i is the bridge's i-th report, slot 2i + 1 the floor's i-th wait. */
    Pass pass() throws IOException {
        final long epoch = System.nanoTime();
        StringBuilder lines = new StringBuilder("clock real epoch-ns=").append(epoch).append('\n');
        Scenario.scanner(lines);
        for (int i = 0; i < REPORTS; ++i) {
            Scenario.report(lines, slotMs(2 * i));
        }
        scenario.set(lines);
        if (!scanner.Open()) {
            throw new IllegalStateException("the scanner did not open");
        }
        double[] bridge = new double[REPORTS];
        double[] base = new double[REPORTS];
        int bridgeKept = 0;
        int floorKept = 0;
        int late = 0;
        for (int i = 0; i < REPORTS; ++i) {
            long due = epoch + slotMs(2 * i) * 1_000_000L;
            long called = System.nanoTime();
            char[] report = scanner.read();
            long back = System.nanoTime();
            check(report, "report " + i + " did not arrive whole");
            if (called > due) {
                ++late;
            } else {
                bridge[bridgeKept++] = back - due;
            }
            due = epoch + slotMs(2 * i + 1) * 1_000_000L;
            called = System.nanoTime();
            report = floor.readAt(due);
            back = System.nanoTime();
            check(report, "the floor gave no array");
            if (called > due) {
                ++late;
            } else {
                base[floorKept++] = back - due;
            }
        }
        return new Pass(Arrays.copyOf(bridge, bridgeKept), Arrays.copyOf(base, floorKept), late);
    }

    private static long slotMs(int slot) {
        return LEAD_MS + slot * SPACING_MS;
    }

    private static void check(char[] report, String failure) {
        if (report == null || report.length != 64) {
            throw new IllegalStateException(failure);
        }
    }
}
