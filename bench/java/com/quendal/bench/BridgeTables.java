package com.quendal.bench;

import java.io.IOException;

/** The Markdown that both harnesses print: section headings and rows of bridge against floor. */
final class BridgeTables {
    private BridgeTables() {}

    /** A heading, what the section measures, and the load average as it starts. */
    static void heading(String title, String what) throws IOException {
        heading(title, what, Noise.loadAverage());
    }

    /** The same with the load average {@code load}, read when the measurement started. */
    static void heading(String title, String what, String load) {
        System.out.println();
        System.out.println("### " + title);
        System.out.println();
        System.out.println(what + ". Load average at the start: " + load + ".");
        System.out.println();
    }

    static void callHeader() {
        callHeader("floor");
    }

    /** The same against {@code against}: "floor", or what else the bridge is compared with. */
    static void callHeader(String against) {
        System.out.println("| call | bridge, ns | " + against + " | " + against + ", ns | bridge / "
                + against + " | target | rounds dropped |");
        System.out.println("|---|---|---|---|---|---|---|");
    }

    /**
     * One comparison: loop {@code bridge} of the result against loop {@code floor}; the target is
     * the most the median ratio may be (0: none).
     */
    static void callRow(String call, String floorName, Paired.Result result, int bridge,
            int floor, double target) {
        double[] ratios = result.ratios(bridge, floor);
        String verdict = "";
        if (target > 0) {
            verdict = Stats.format("%.2fx: %s", target,
                    Stats.median(ratios) <= target ? "met" : "**missed**");
        }
        System.out.println("| " + call + " | " + Stats.spread(result.nsPerCall[bridge], "%.0f")
                + " | " + floorName + " | " + Stats.spread(result.nsPerCall[floor], "%.0f") + " | "
                + Stats.spread(ratios, "%.2fx") + " | " + verdict + " | "
                + Stats.format("%d of %d", result.roundsDropped, result.rounds) + " |");
    }
}
