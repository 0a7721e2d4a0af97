package com.quendal.bench;

import java.util.Arrays;
import java.util.Locale;

/** Order statistics over repetitions or samples. */
final class Stats {
    private Stats() {}

    static double median(double[] values) {
        return percentile(values, 50);
    }

    /** Nearest-rank percentile: the smallest value with at least p% of the values at or below it. */
    static double percentile(double[] values, double p) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        int rank = (int) Math.ceil(p / 100.0 * sorted.length);
        return sorted[Math.max(0, Math.min(sorted.length - 1, rank - 1))];
    }

    static double min(double[] values) {
        return Arrays.stream(values).min().orElse(Double.NaN);
    }

    /** "median (min-p90)", each value printed with {@code format}; "-" when there are none. */
    static String spread(double[] values, String format) {
        if (values.length == 0) {
            return "-";
        }
        return String.format(Locale.ROOT, format + " (" + format + "-" + format + ")",
                median(values), min(values), percentile(values, 90));
    }

    static double[] ratios(double[] numerators, double[] denominators) {
        double[] ratios = new double[numerators.length];
        for (int i = 0; i < ratios.length; ++i) {
            ratios[i] = numerators[i] / denominators[i];
        }
        return ratios;
    }

    static double[] differences(double[] minuends, double[] subtrahends) {
        double[] differences = new double[minuends.length];
        for (int i = 0; i < differences.length; ++i) {
            differences[i] = minuends[i] - subtrahends[i];
        }
        return differences;
    }

    static String format(String format, Object... args) {
        return String.format(Locale.ROOT, format, args);
    }
}
