package com.quendal.bench;

import com.quendal.javapos.usb.QuenHIDOper;
import java.io.IOException;
import java.util.Arrays;

/**
 * The shipped Linux scanner bridge (lib/libscannerlink.so, the hidraw platform) end to end in
 * Debian's kernel, printed as Markdown: run inside the kernel VM (bench/vm/jvm-guest.sh), with the
 * maker's scanner made through uhid by {@link Uhid} in this same JVM. Against a floor of poll +
 * read on the same hidraw node that makes the same Java array:
 * <ul>
 *   <li>read per call with reports queued;
 *   <li>report-to-Java latency, from the moment the report is handed to uhid;
 *   <li>Open with 1, 8 and 32 HID devices present (the scanner enumerating last).
 * </ul>
 *
 * <p>Arguments: [--repetitions N] [--quick] [--only calls,latency,open].
 */
public final class HidrawVmBench {
    // Reports queued per round: each open fd of a hidraw node holds at most 64.
    private static final int BATCH = 32;
    private static final double READ_TARGET = 1.1;
    private static final double LATENCY_TARGET_US = 5;
    private static final long SEND_LEAD_NS = 2_000_000;
    private static final int[] DEVICES = {1, 8, 32};

    private final BenchArguments arguments;
    private final int repetitions;
    private final int callsPerRepetition;
    private final int latencyPasses;
    private final int latencyReports;
    private final int opensPerBatch;

    private final QuenHIDOper scanner = new QuenHIDOper();
    private int scannerDevice = -1;
    private int foreignDevices = 0;

    private HidrawVmBench(BenchArguments arguments) {
        this.arguments = arguments;
        repetitions = arguments.repetitions;
        callsPerRepetition = arguments.quick ? 4 * BATCH : 16_384;
        latencyPasses = arguments.quick ? 1 : 5;
        latencyReports = arguments.quick ? 20 : 1000;
        opensPerBatch = arguments.quick ? 3 : 20;
    }

    public static void main(String[] args) throws IOException {
        new HidrawVmBench(new BenchArguments(args, "calls", "latency", "open")).run();
    }

    private void run() throws IOException {
        System.out.println(Stats.format("JVM: %s %s; bridge and device side from %s; %d CPUs",
                System.getProperty("java.vm.name"), System.getProperty("java.vm.version"),
                System.getProperty("java.library.path"),
                Runtime.getRuntime().availableProcessors()));
        scanner.SetMode(false);
        arrange(1);
        if (arguments.wants("calls")) {
            perCall();
        }
        if (arguments.wants("latency")) {
            latency();
        }
        if (arguments.wants("open")) {
            openCost();
        }
        scanner.Close();
        Uhid.floorClose();
    }

    /** {@code devices} HID devices present, the scanner plugged last; scanner and floor open. */
    private void arrange(int devices) {
        scanner.Close();
        Uhid.floorClose();
        if (scannerDevice >= 0) {
            Paired.check(Uhid.unplugLast(), "the scanner did not unplug");
        }
        for (; foreignDevices > devices - 1; --foreignDevices) {
            Paired.check(Uhid.unplugLast(), "a device did not unplug");
        }
        for (; foreignDevices < devices - 1; ++foreignDevices) {
            Paired.check(Uhid.plug(false) >= 0, "a keyboard could not be plugged in");
        }
        scannerDevice = Uhid.plug(true);
        Paired.check(scannerDevice >= 0, "the scanner could not be plugged in");
        Paired.check(scanner.Open(), "the bridge did not open the scanner");
        Paired.check(Uhid.floorOpen(Uhid.node(scannerDevice)), "the floor did not open the node");
    }

    private final Paired.Loop bridgeRead = new Paired.Loop() {
        @Override
        void calls(int n) {
            long chars = 0;
            for (int i = 0; i < n; ++i) {
                chars += scanner.read().length;
            }
            Paired.check(chars == 64L * n, "a bridge read did not give 64 chars");
        }
    };
    private final Paired.Loop floorRead = new Paired.Loop() {
        @Override
        void calls(int n) {
            long chars = 0;
            for (int i = 0; i < n; ++i) {
                chars += Uhid.floorRead().length;
            }
            Paired.check(chars == 64L * n, "a floor read did not give 64 chars");
        }
    };

    private final Paired.Loop floorReadNoWait = new Paired.Loop() {
        @Override
        void calls(int n) {
            long chars = 0;
            for (int i = 0; i < n; ++i) {
                chars += Uhid.floorReadNoWait().length;
            }
            Paired.check(chars == 64L * n, "a floor read did not give 64 chars");
        }
    };

    private void perCall() throws IOException {
        Paired paired = new Paired(BATCH);
        // Each round queues BATCH reports on every fd of the node (untimed); bridge and floor
        // then read them from their own fds.
        Runnable refill = () -> Paired.check(Uhid.send(scannerDevice, BATCH), "uhid refused");
        Paired.Loop[] loops = {bridgeRead, floorRead, floorReadNoWait};
        paired.run(3, Math.max(callsPerRepetition, 8192), refill, loops);
        BridgeTables.heading("Kernel VM: read per call, reports queued", Stats.format(
                "ns per call, median (min-p90) over %d repetitions of %,d calls each; each round"
                        + " hands %d reports to uhid (untimed), then the bridge and the floor read"
                        + " them from their own fds of the node in batches that take turns (a"
                        + " repetition's figure is its median batch); %d ns"
                        + " of timer cost taken off each batch; rounds during which the JVM"
                        + " collected garbage or compiled are dropped",
                repetitions, callsPerRepetition, BATCH, Paired.TIMER_NANOS));
        BridgeTables.callHeader();
        Paired.Result reads = paired.run(repetitions, callsPerRepetition, refill, loops);
        BridgeTables.callRow("scanner read(), 64-byte report", "poll + read + new char[64]",
                reads, 0, 1, READ_TARGET);
        BridgeTables.callRow("", "poll (time-out 0) + read + new char[64]", reads, 0, 2, 0);
    }

    private void latency() throws IOException {
        // Compiled first, as in the timed passes.
        latencyPass(Math.max(latencyReports, 200));
        BridgeTables.heading("Kernel VM: report-to-Java latency", Stats.format(
                "us from the moment the report is handed to uhid (a System.nanoTime() just"
                        + " before the UHID_INPUT2 write, by a thread of this JVM) to the return of"
                        + " the read blocked for it; the bridge and the floor take turns, %d"
                        + " reports each per pass, each sent %d ms after its read was started;"
                        + " median (min-p90) over %d passes",
                latencyReports, SEND_LEAD_NS / 1_000_000, latencyPasses));
        double[][] bridge = new double[3][latencyPasses];
        double[][] floor = new double[3][latencyPasses];
        double[] overFloor = new double[latencyPasses];
        int late = 0;
        int noisy = 0;
        for (int pass = 0; pass < latencyPasses; ++pass) {
            LatencyPass p = latencyPass(latencyReports);
            double[] percentiles = {50, 90, 99};
            for (int k = 0; k < percentiles.length; ++k) {
                bridge[k][pass] = Stats.percentile(p.bridgeNs, percentiles[k]) / 1000;
                floor[k][pass] = Stats.percentile(p.floorNs, percentiles[k]) / 1000;
            }
            overFloor[pass] = bridge[0][pass] - floor[0][pass];
            late += p.late;
            noisy += p.noisy;
        }
        System.out.println("| | median | 90th percentile | 99th percentile |");
        System.out.println("|---|---|---|---|");
        System.out.println("| bridge | " + Stats.spread(bridge[0], "%.1f") + " | "
                + Stats.spread(bridge[1], "%.1f") + " | " + Stats.spread(bridge[2], "%.1f") + " |");
        System.out.println("| floor | " + Stats.spread(floor[0], "%.1f") + " | "
                + Stats.spread(floor[1], "%.1f") + " | " + Stats.spread(floor[2], "%.1f") + " |");
        System.out.println("| bridge - floor | " + Stats.spread(overFloor, "%.1f") + " | | |");
        System.out.println();
        System.out.println(Stats.format("Target: bridge - floor under %.0f us at the median: %s."
                        + " Not counted: %d reads that began after their report was handed"
                        + " over, %d during which the JVM collected garbage or compiled.",
                LATENCY_TARGET_US, Stats.median(overFloor) < LATENCY_TARGET_US ? "met"
                        : "**missed**", late, noisy));
    }

    private static final class LatencyPass {
        double[] bridgeNs;
        double[] floorNs;
        int late;
        int noisy;
    }

    /** Bridge and floor take turns; the other side's fd is drained after each report. */
    private LatencyPass latencyPass(int reports) {
        double[] bridge = new double[reports];
        double[] base = new double[reports];
        int bridgeKept = 0;
        int floorKept = 0;
        LatencyPass pass = new LatencyPass();
        for (int i = 0; i < reports; ++i) {
            Noise noise = Noise.mark();
            Paired.check(Uhid.sendAt(scannerDevice, System.nanoTime() + SEND_LEAD_NS), "no send");
            long called = System.nanoTime();
            char[] report = scanner.read();
            long back = System.nanoTime();
            long handed = Uhid.sentAt();
            Paired.check(report != null && report.length == 64 && handed > 0,
                    "report " + i + " did not reach the bridge whole");
            if (!noise.quietSince()) {
                ++pass.noisy;
            } else if (called >= handed) {
                ++pass.late;
            } else {
                bridge[bridgeKept++] = back - handed;
            }
            Paired.check(Uhid.floorDrain() == 1, "the floor's fd did not hold the report");

            noise = Noise.mark();
            Paired.check(Uhid.sendAt(scannerDevice, System.nanoTime() + SEND_LEAD_NS), "no send");
            called = System.nanoTime();
            report = Uhid.floorRead();
            back = System.nanoTime();
            handed = Uhid.sentAt();
            Paired.check(report != null && handed > 0, "report " + i + " did not reach the floor");
            if (!noise.quietSince()) {
                ++pass.noisy;
            } else if (called >= handed) {
                ++pass.late;
            } else {
                base[floorKept++] = back - handed;
            }
            // The bridge's fd holds the floor's report: read at once, untimed.
            Paired.check(scanner.read() != null, "the bridge's fd did not hold the report");
        }
        pass.bridgeNs = Arrays.copyOf(bridge, bridgeKept);
        pass.floorNs = Arrays.copyOf(base, floorKept);
        return pass;
    }

    private void openCost() throws IOException {
        double[][] ns = new double[DEVICES.length][repetitions];
        int dropped = 0;
        String[] loads = new String[DEVICES.length];
        for (int rep = -1; rep < repetitions; ++rep) {  // repetition -1 warms up
            for (int s = 0; s < DEVICES.length; ++s) {
                arrange(DEVICES[s]);
                if (rep == 0) {
                    loads[s] = Noise.loadAverage();
                }
                for (int attempt = 0;; ++attempt) {
                    Noise noise = Noise.mark();
                    long start = System.nanoTime();
                    int opened = 0;
                    for (int i = 0; i < opensPerBatch; ++i) {
                        opened += scanner.Open() ? 1 : 0;
                    }
                    long elapsed = System.nanoTime() - start - Paired.TIMER_NANOS;
                    Paired.check(opened == opensPerBatch, "the scanner did not open");
                    if (noise.quietSince() || attempt == 3) {
                        if (rep >= 0) {
                            ns[s][rep] = (double) elapsed / opensPerBatch;
                        }
                        break;
                    }
                    dropped += rep >= 0 ? 1 : 0;
                }
            }
        }
        BridgeTables.heading("Kernel VM: Open against the HID devices present", Stats.format(
                "us per Open (a search of every hidraw node's sysfs entries, then the channels"
                        + " closed and opened again), median (min-p90) over %d repetitions of %d"
                        + " Opens; the devices are keyboards of another maker and the scanner,"
                        + " plugged in last so that it enumerates last; the sizes take turns;"
                        + " per device: (Open(N) - Open(1)) / (N - 1); %d batches dropped for the"
                        + " JVM's garbage collection or compilation",
                repetitions, opensPerBatch, dropped));
        System.out.println("| devices | Open, us | per device, us | load average |");
        System.out.println("|---|---|---|---|");
        for (int s = 0; s < DEVICES.length; ++s) {
            int n = DEVICES[s];
            double[] us = ns[s].clone();
            for (int i = 0; i < us.length; ++i) {
                us[i] /= 1000;
            }
            String perDevice = "";
            if (n > 1) {
                double[] each = Stats.differences(ns[s], ns[0]);
                for (int i = 0; i < each.length; ++i) {
                    each[i] /= 1000.0 * (n - 1);
                }
                perDevice = Stats.spread(each, "%.1f");
            }
            System.out.println("| " + n + " | " + Stats.spread(us, "%.1f") + " | " + perDevice
                    + " | " + loads[s] + " |");
        }
        arrange(1);
    }
}
