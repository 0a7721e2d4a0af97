package com.quendal.bench;

import com.quendal.javapos.usb.QuenHIDOper;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.List;

/**
 * The JVM benchmarks of the scanner bridge built on the simulated bus, printed as Markdown: the
 * cost per call against the JNI floor, the report-to-Java latency on the real clock, the cost of
 * Open against the number of interfaces, and the resident set over a long run.
 *
 * <p>Arguments: [--repetitions N] [--quick] [--only calls,latency,open,memory]. Needs
 * QUENLINK_SIM_SCENARIO (a file it may overwrite) and java.library.path naming the bridge and
 * the floor library.
 */
public final class BridgeBench {
    private static final int[] QUEUE_DEPTHS = {10, 100, 1_000, 10_000};

    private int repetitions = 15;
    private int callsPerRepetition = 20_000;
    private int latencyPasses = 5;
    private int openCalls = 100_000;
    private int memoryReads = 1_000_000;
    private int memoryCycles = 100_000;
    private List<String> sections = Arrays.asList("calls", "latency", "open", "memory");

    private final QuenHIDOper scanner = new QuenHIDOper();
    private final JniFloor floor = new JniFloor();
    private final Scenario scenario = new Scenario();

    public static void main(String[] args) throws Exception {
        BridgeBench bench = new BridgeBench();
        bench.parse(args);
        bench.run();
    }

    private void parse(String[] args) {
        for (int i = 0; i < args.length; ++i) {
            switch (args[i]) {
                case "--repetitions":
                    repetitions = Integer.parseInt(args[++i]);
                    break;
                case "--quick":  // a smoke run: every section, few calls
                    repetitions = 3;
                    callsPerRepetition = 2_000;
                    latencyPasses = 1;
                    openCalls = 10_000;
                    memoryReads = 50_000;
                    memoryCycles = 5_000;
                    break;
                case "--only":
                    sections = Arrays.asList(args[++i].split(","));
                    break;
                default:
                    throw new IllegalArgumentException("unknown argument " + args[i]);
            }
        }
    }

    private void run() throws IOException {
        System.out.println(Stats.format("JVM: %s %s, bridge: %s", System.getProperty("java.vm.name"),
                System.getProperty("java.vm.version"), System.getProperty("java.library.path")));
        scanner.SetMode(false);
        if (sections.contains("calls")) {
            perCall();
        }
        if (sections.contains("latency")) {
            latency();
        }
        if (sections.contains("open")) {
            openCost();
        }
        if (sections.contains("memory")) {
            memory();
        }
        scanner.Close();
    }

    private void perCall() throws IOException {
        PerCall calls = new PerCall(scanner, floor, scenario);
        // Every timed loop is compiled before anything counts.
        calls.reads(100, 3, callsPerRepetition);
        calls.writes(3, callsPerRepetition);
        heading("Per call through the JVM",
                Stats.format("ns per call, median (min-max) over %d repetitions of %d calls;"
                                + " %d ns of timer cost taken off each batch",
                        repetitions, callsPerRepetition, calls.timerNanos()));
        System.out.println("| call | bridge | floor | bridge / floor |");
        System.out.println("|---|---|---|---|");
        for (int depth : QUEUE_DEPTHS) {
            row(Stats.format("read, %,d queued", depth),
                    calls.reads(depth, repetitions, callsPerRepetition));
        }
        // Writes need no new bus between batches: ten times the calls, for steadier figures.
        PerCall.Result writes = calls.writes(repetitions, 10 * callsPerRepetition);
        row("write(char[64])", writes);
        System.out.println();
        System.out.println("A write cannot know its array's length without asking the JVM: against"
                + " a floor that asks it first (" + Stats.spread(writes.sizedFloorNs, "%.0f")
                + " ns), write(char[64]) is "
                + Stats.spread(Stats.ratios(writes.bridgeNs, writes.sizedFloorNs), "%.2fx") + ".");
    }

    private void latency() throws IOException {
        Latency latency = new Latency(scanner, floor, scenario);
        heading("Report-to-Java latency, real clock",
                Stats.format("us from a report's due time to the return of the blocked read,"
                                + " %d reports per pass for each of bridge and floor, taking turns"
                                + " %d ms apart; median (min-max) over %d passes",
                        Latency.REPORTS, Latency.SPACING_MS, latencyPasses));
        double[][] bridge = new double[2][latencyPasses];
        double[][] base = new double[2][latencyPasses];
        int late = 0;
        for (int pass = 0; pass < latencyPasses; ++pass) {
            Latency.Pass p = latency.pass();
            bridge[0][pass] = Stats.median(p.bridgeNs) / 1000;
            bridge[1][pass] = Stats.percentile(p.bridgeNs, 99) / 1000;
            base[0][pass] = Stats.median(p.floorNs) / 1000;
            base[1][pass] = Stats.percentile(p.floorNs, 99) / 1000;
            late += p.lateStarts;
        }
        System.out.println("| | median | 99th percentile |");
        System.out.println("|---|---|---|");
        System.out.println("| bridge | " + Stats.spread(bridge[0], "%.1f") + " | "
                + Stats.spread(bridge[1], "%.1f") + " |");
        System.out.println("| floor | " + Stats.spread(base[0], "%.1f") + " | "
                + Stats.spread(base[1], "%.1f") + " |");
        System.out.println("| bridge - floor | "
                + Stats.spread(Stats.differences(bridge[0], base[0]), "%.1f") + " | "
                + Stats.spread(Stats.differences(bridge[1], base[1]), "%.1f") + " |");
        System.out.println();
        System.out.println(late + " waits began after their due time and are not counted.");
    }

    private void openCost() throws IOException {
        OpenCost open = new OpenCost(scanner, scenario);
        open.bySize(2);  // warm-up
        heading("Open against the number of HID interfaces",
                Stats.format("us per Open, median (min-max) over %d repetitions; the scanner"
                                + " enumerates last; per interface: (Open(N) - Open(1)) / (N - 1)",
                        repetitions));
        double[][] us = open.bySize(repetitions);
        for (double[] row : us) {
            for (int i = 0; i < row.length; ++i) {
                row[i] /= 1000;
            }
        }
        System.out.println("| interfaces | Open | per interface |");
        System.out.println("|---|---|---|");
        for (int s = 0; s < OpenCost.INTERFACES.length; ++s) {
            int n = OpenCost.INTERFACES[s];
            String perInterface = "";
            if (n > 1) {
                double[] each = Stats.differences(us[s], us[0]);
                for (int i = 0; i < each.length; ++i) {
                    each[i] /= n - 1;
                }
                perInterface = Stats.spread(each, "%.3f");
            }
            System.out.println("| " + n + " | " + Stats.spread(us[s], "%.2f") + " | "
                    + perInterface + " |");
        }
        final int chunk = 1000;
        final int tenth = openCalls / chunk / 10;
        double[] overCalls = open.overCalls(16, openCalls, chunk);
        double first = Stats.median(Arrays.copyOfRange(overCalls, 0, tenth)) / 1000;
        double last = Stats.median(Arrays.copyOfRange(overCalls, overCalls.length - tenth,
                                           overCalls.length)) / 1000;
        System.out.println();
        System.out.println(Stats.format("Over %,d calls with 16 interfaces: %.2f us per Open in the"
                        + " first tenth, %.2f us in the last (%.2fx).",
                openCalls, first, last, last / first));
    }

    private void memory() throws IOException {
        Memory memory = new Memory(scanner, scenario);
        heading("Resident set", "VmRSS of the JVM (fixed, pre-touched heap), kB, before and after"
                + " each run of calls, each after a warm-up of the same calls (as many"
                + " reads, a tenth as many writes and cycles)");
        System.out.println("| calls | VmRSS before | VmRSS after | change |");
        System.out.println("|---|---|---|---|");
        // The JVM's own memory settles over the first few dozen buses (its compilers' arenas,
        // the code cache): a whole run of warm-up, so that what changes after it is ours.
        memory.reads(memoryReads);
        long before = Memory.residentKb();
        memory.reads(memoryReads);
        resident(Stats.format("%,d reads (a new bus every %,d)", memoryReads,
                         Memory.REPORTS_PER_BUS),
                before, Memory.residentKb());
        memory.writes(memoryReads / 10);
        before = Memory.residentKb();
        memory.writes(memoryReads);
        resident(Stats.format("%,d writes on one bus", memoryReads), before,
                Memory.residentKb());
        memory.openCloseCycles(memoryCycles / 10);
        before = Memory.residentKb();
        memory.openCloseCycles(memoryCycles);
        resident(Stats.format("%,d Open/Close cycles, %d interfaces", memoryCycles,
                         Memory.OPEN_INTERFACES),
                before, Memory.residentKb());
    }

    private static void resident(String calls, long before, long after) {
        System.out.println(Stats.format("| %s | %,d | %,d | %+,d |", calls, before, after,
                after - before));
    }

    private static void row(String call, PerCall.Result result) {
        System.out.println("| " + call + " | " + Stats.spread(result.bridgeNs, "%.0f") + " | "
                + Stats.spread(result.floorNs, "%.0f") + " | "
                + Stats.spread(result.ratios(), "%.2fx") + " |");
    }

    private static void heading(String title, String what) throws IOException {
        System.out.println();
        System.out.println("### " + title);
        System.out.println();
        System.out.println(what + ". Load average at the start: " + loadAverage() + ".");
        System.out.println();
    }

    private static String loadAverage() throws IOException {
        String[] fields = new String(Files.readAllBytes(Paths.get("/proc/loadavg")),
                StandardCharsets.US_ASCII).trim().split(" ");
        return fields[0] + " " + fields[1] + " " + fields[2];
    }
}
