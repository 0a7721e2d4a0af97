package com.quendal.bench;

import com.quendal.javapos.usb.QuenHIDOper;
import java.io.IOException;

/**
 * What Open costs against the number of HID interfaces present (the scanner enumerating last,
 * behind interfaces of another maker), and whether it stays the same over many calls.
 */
final class OpenCost {
    static final int[] INTERFACES = {1, 16, 64, 256};
    // Each timed batch lasts about this long, so a few microseconds' difference between sizes
    // stands out of the machine's noise.
    private static final long BATCH_NANOS = 20_000_000L;

    private final QuenHIDOper scanner;
    private final Scenario scenario;

    OpenCost(QuenHIDOper scanner, Scenario scenario) {
        this.scanner = scanner;
        this.scenario = scenario;
    }

    /** [size index][repetition]: ns per Open; the sizes take turns within each repetition. */
    double[][] bySize(int repetitions) throws IOException {
        int[] batch = new int[INTERFACES.length];
        for (int s = 0; s < INTERFACES.length; ++s) {
            scenario.set(Scenario.interfaces(INTERFACES[s]));
            open();
            long probe = Math.max(1, timeOpens(100) / 100);
            batch[s] = (int) Math.max(100, BATCH_NANOS / probe);
        }
        double[][] ns = new double[INTERFACES.length][repetitions];
        for (int rep = 0; rep < repetitions; ++rep) {
            for (int s = 0; s < INTERFACES.length; ++s) {
                scenario.set(Scenario.interfaces(INTERFACES[s]));
                open();  // takes up the new scenario
                ns[s][rep] = (double) timeOpens(batch[s]) / batch[s];
            }
        }
        return ns;
    }

    /** ns per Open over each consecutive chunk of {@code chunk} calls, {@code calls} in all. */
    double[] overCalls(int interfaces, int calls, int chunk) throws IOException {
        scenario.set(Scenario.interfaces(interfaces));
        open();
        timeOpens(calls / 10);  // not counted: the first calls on a new bus
        double[] ns = new double[calls / chunk];
        for (int i = 0; i < ns.length; ++i) {
            ns[i] = (double) timeOpens(chunk) / chunk;
        }
        return ns;
    }

    private long timeOpens(int n) {
        int opened = 0;
        long start = System.nanoTime();
        for (int i = 0; i < n; ++i) {
            opened += scanner.Open() ? 1 : 0;
        }
        long elapsed = System.nanoTime() - start;
        if (opened != n) {
            throw new IllegalStateException("the scanner did not open");
        }
        return elapsed;
    }

    private void open() {
        if (!scanner.Open()) {
            throw new IllegalStateException("the scanner did not open");
        }
    }
}
