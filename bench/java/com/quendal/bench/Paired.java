package com.quendal.bench;

import java.util.Arrays;

/**
 * A bridge call and its floors timed in batches that take turns in one JVM. Each round refills
 * what the calls consume (untimed), then runs one batch of every loop; which loop goes first
 * rotates, so that none always meets the caches another left. A round during which the JVM
 * collected garbage or compiled is dropped whole (see {@link Noise}). Each repetition gives every
 * loop's median over its kept batches of the time per call: on a shared machine a batch that the
 * scheduler interrupted is an outlier, which a mean would spread over the whole repetition.
 */
final class Paired {
    /** One kind of call, made n times in a loop of its own; throws if a result is wrong. */
    abstract static class Loop {
        abstract void calls(int n);
    }

    static final class Result {
        final double[][] nsPerCall;  // [loop][repetition]
        final int rounds;
        final int roundsDropped;

        Result(double[][] nsPerCall, int rounds, int roundsDropped) {
            this.nsPerCall = nsPerCall;
            this.rounds = rounds;
            this.roundsDropped = roundsDropped;
        }

        /** Loop {@code loop}'s time over loop {@code base}'s, per repetition. */
        double[] ratios(int loop, int base) {
            return Stats.ratios(nsPerCall[loop], nsPerCall[base]);
        }
    }

    // What two back-to-back System.nanoTime calls cost: taken off every timed batch.
    static final long TIMER_NANOS = timerCost();

    private final int batch;

    Paired(int batch) {
        this.batch = batch;
    }

    Result run(int repetitions, int callsPerRepetition, Runnable refill, Loop... loops) {
        double[][] ns = new double[loops.length][repetitions];
        long[] elapsed = new long[loops.length];
        final int wanted = Math.max(1, callsPerRepetition / batch);
        double[][] kept = new double[loops.length][wanted];
        int rounds = 0;
        int dropped = 0;
        // A JVM that never stops compiling must still end the run: then some repetitions count
        // fewer batches, and the dropped rounds say so.
        final int mostRounds = 4 * wanted + 8;
        for (int rep = 0; rep < repetitions; ++rep) {
            int batches = 0;
            for (int round = 0; batches < wanted && round < mostRounds; ++round) {
                if (refill != null) {
                    refill.run();
                }
                Noise before = Noise.mark();
                for (int k = 0; k < loops.length; ++k) {
                    int which = (round + k) % loops.length;
                    long start = System.nanoTime();
                    loops[which].calls(batch);
                    elapsed[which] = System.nanoTime() - start - TIMER_NANOS;
                }
                ++rounds;
                if (!before.quietSince()) {
                    ++dropped;
                    continue;
                }
                for (int k = 0; k < loops.length; ++k) {
                    kept[k][batches] = (double) elapsed[k] / batch;
                }
                ++batches;
            }
            for (int k = 0; k < loops.length; ++k) {
                ns[k][rep] = batches == 0 ? Double.NaN
                                          : Stats.median(Arrays.copyOf(kept[k], batches));
            }
        }
        return new Result(ns, rounds, dropped);
    }

    static void check(boolean condition, String failure) {
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
