package com.quendal.bench;

import com.quendal.javapos.usb.QuenHIDOper;
import java.io.IOException;
import java.util.Arrays;

/**
 * One read or write through the scanner bridge, on the simulated bus with reports always ready,
 * against the JNI floor: batches of bridge calls and of floor calls alternate in this JVM, and
 * each repetition gives the mean per call of each over its batches.
 */
final class PerCall {
    static final class Result {
        final double[] bridgeNs;
        final double[] floorNs;
        final double[] sizedFloorNs;  // writes only: the floor that asks the length first

        Result(double[] bridgeNs, double[] floorNs, double[] sizedFloorNs) {
            this.bridgeNs = bridgeNs;
            this.floorNs = floorNs;
            this.sizedFloorNs = sizedFloorNs;
        }

        double[] ratios() {
            return Stats.ratios(bridgeNs, floorNs);
        }
    }

    private static final int REPORT_CHARS = 64;
    private static final int WRITE_BATCH = 1000;

    private final QuenHIDOper scanner;
    private final JniFloor floor;
    private final Scenario scenario;
    private final char[] data = new char[REPORT_CHARS];
    // What two back-to-back System.nanoTime calls cost: taken off every timed batch.
    private final long timerNanos;

    PerCall(QuenHIDOper scanner, JniFloor floor, Scenario scenario) {
        this.scanner = scanner;
        this.floor = floor;
        this.scenario = scenario;
        Arrays.fill(data, 'A');
        timerNanos = timerCost();
    }

    long timerNanos() {
        return timerNanos;
    }

    /**
     * Reads of a 64-byte report in single-report mode with {@code depth} reports queued at time
     * 0. Each bridge batch reads half of them, so between depth and depth / 2 + 1 reports wait at
     * every read; the next batch starts on a fresh bus from the scenario file. Setting up a bus
     * leaves cold caches behind, so one untimed call of each kind comes first.
     */
    Result reads(int depth, int repetitions, int callsPerRepetition) throws IOException {
        final int batch = Math.max(1, depth / 2);
        final String lines = Scenario.scannerWithReports(depth + 1);
        double[] bridgeNs = new double[repetitions];
        double[] floorNs = new double[repetitions];
        for (int rep = 0; rep < repetitions; ++rep) {
            long bridge = 0;
            long base = 0;
            int calls = 0;
            for (int round = 0; calls < callsPerRepetition; ++round) {
                scenario.set(lines);
                if (!scanner.Open() || scanner.read() == null || floor.read() == null) {
                    throw new IllegalStateException("the scanner did not open");
                }
                // Which goes first alternates, so neither always meets the caches the refill left.
                if (round % 2 == 0) {
                    bridge += bridgeReads(batch);
                    base += floorReads(batch);
                } else {
                    base += floorReads(batch);
                    bridge += bridgeReads(batch);
                }
                calls += batch;
            }
            bridgeNs[rep] = (double) bridge / calls;
            floorNs[rep] = (double) base / calls;
        }
        return new Result(bridgeNs, floorNs, null);
    }

    /** write(char[64]) to a device that takes every report at once. */
    Result writes(int repetitions, int callsPerRepetition) throws IOException {
        scenario.set(Scenario.interfaces(1));
        if (!scanner.Open()) {
            throw new IllegalStateException("the scanner did not open");
        }
        double[] bridgeNs = new double[repetitions];
        double[] floorNs = new double[repetitions];
        double[] sizedNs = new double[repetitions];
        for (int rep = 0; rep < repetitions; ++rep) {
            long bridge = 0;
            long base = 0;
            long sized = 0;
            int calls = 0;
            for (int round = 0; calls < callsPerRepetition; ++round) {
                if (round % 2 == 0) {
                    bridge += bridgeWrites(WRITE_BATCH);
                    base += floorWrites(WRITE_BATCH);
                    sized += sizedFloorWrites(WRITE_BATCH);
                } else {
                    sized += sizedFloorWrites(WRITE_BATCH);
                    base += floorWrites(WRITE_BATCH);
                    bridge += bridgeWrites(WRITE_BATCH);
                }
                calls += WRITE_BATCH;
            }
            bridgeNs[rep] = (double) bridge / calls;
            floorNs[rep] = (double) base / calls;
            sizedNs[rep] = (double) sized / calls;
        }
        return new Result(bridgeNs, floorNs, sizedNs);
    }

    // The four timed loops have one shape, so the JIT treats bridge and floor alike.

    private long bridgeReads(int n) {
        long chars = 0;
        long start = System.nanoTime();
        for (int i = 0; i < n; ++i) {
            chars += scanner.read().length;
        }
        long elapsed = System.nanoTime() - start - timerNanos;
        check(chars == (long) REPORT_CHARS * n, "a bridge read did not give a 64-char report");
        return elapsed;
    }

    private long floorReads(int n) {
        long chars = 0;
        long start = System.nanoTime();
        for (int i = 0; i < n; ++i) {
            chars += floor.read().length;
        }
        long elapsed = System.nanoTime() - start - timerNanos;
        check(chars == (long) REPORT_CHARS * n, "a floor read did not give 64 chars");
        return elapsed;
    }

    private long bridgeWrites(int n) {
        int taken = 0;
        long start = System.nanoTime();
        for (int i = 0; i < n; ++i) {
            taken += scanner.write(data) ? 1 : 0;
        }
        long elapsed = System.nanoTime() - start - timerNanos;
        check(taken == n, "the device did not take a bridge write");
        return elapsed;
    }

    private long floorWrites(int n) {
        int taken = 0;
        long start = System.nanoTime();
        for (int i = 0; i < n; ++i) {
            taken += floor.write(data) ? 1 : 0;
        }
        long elapsed = System.nanoTime() - start - timerNanos;
        check(taken == n, "a floor write failed");
        return elapsed;
    }

    private long sizedFloorWrites(int n) {
        int taken = 0;
        long start = System.nanoTime();
        for (int i = 0; i < n; ++i) {
            taken += floor.writeSized(data) ? 1 : 0;
        }
        long elapsed = System.nanoTime() - start - timerNanos;
        check(taken == n, "a floor write failed");
        return elapsed;
    }

    private static void check(boolean condition, String failure) {
        if (!condition) {
            throw new IllegalStateException(failure);
        }
    }

    private static long timerCost() {
        long[] costs = new long[10001];
        for (int i = 0; i < costs.length; ++i) {
            long start = System.nanoTime();
            costs[i] = System.nanoTime() - start;
        }
        Arrays.sort(costs);
        return costs[costs.length / 2];
    }
}
