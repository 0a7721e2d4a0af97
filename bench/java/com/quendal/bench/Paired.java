package com.quendal.bench;

import java.util.Arrays;

/**
 * A bridge call and its floors timed in batches that take turns in one JVM. Each round refills
 * what the calls consume (untimed), then runs one batch of every loop; which loop goes first
 * rotates, so that none always meets the caches another left. A round during which the JVM
 * collected garbage or compiled is dropped whole (see {@link Noise}). Each repetition gives every
 * loop's mean per call over the rounds it kept.
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
        long[] sums = new long[loops.length];
        int rounds = 0;
        int dropped = 0;
        // A JVM that never stops compiling must still end the run: then some repetitions count
        // fewer calls, and the dropped rounds say so.
        final int mostRounds = 4 * (callsPerRepetition / batch) + 8;
        for (int rep = 0; rep < repetitions; ++rep) {
            Arrays.fill(sums, 0);
            int calls = 0;
            for (int round = 0; calls < callsPerRepetition && round < mostRounds; ++round) {
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
                    sums[k] += elapsed[k];
                }
                calls += batch;
            }
            for (int k = 0; k < loops.length; ++k) {
                ns[k][rep] = calls == 0 ? Double.NaN : (double) sums[k] / calls;
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
