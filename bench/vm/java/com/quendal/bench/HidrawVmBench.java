package com.quendal.bench;

import com.quendal.javapos.usb.QuenHIDOper;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.function.BooleanSupplier;
import java.util.function.Supplier;

/**
 * The shipped Linux scanner bridge (lib/libscannerlink.so, the hidraw platform) end to end in
 * Debian's kernel, printed as Markdown: run inside the kernel VM (bench/vm/jvm-guest.sh), with the
 * maker's scanner made through uhid by {@link Uhid} in this same JVM. Against a floor of poll +
 * read on the same hidraw node that makes the same Java array, and against its peers, what a
 * developer on Linux would use instead: Debian's hidapi through JNA ({@link HidapiThroughJna})
 * and from C ({@link HidapiFromC}). All of them take turns on the same node:
 * <ul>
 *   <li>read per call with reports queued;
 *   <li>report-to-Java latency, from the moment the report is handed to uhid;
 *   <li>Open (the peers: find and open) with 1, 8 and 32 HID devices present (the scanner
 *       enumerating last).
 * </ul>
 *
 * <p>Arguments: [--repetitions N] [--quick] [--only calls,latency,open,floor,peer]: the
 * measurements, and what the bridge is measured against (the floor, the peers).
 */
public final class HidrawVmBench {
    // Reports queued per round: each open fd of a hidraw node holds at most 64.
    private static final int BATCH = 32;
    private static final int REPORT_CHARS = 64;
    private static final double READ_TARGET = 1.1;
    private static final double PEER_TARGET = 1.0;
    private static final double LATENCY_TARGET_US = 5;
    private static final long SEND_LEAD_NS = 2_000_000;
    private static final long READ_TIMEOUT_NS = 490_000_000;  // the scanner's 500 ms, as timed here
    private static final int[] DEVICES = {1, 8, 32};
    private static final int ALLOCATION_ROUNDS = 32;
    private static final String JNA = "JNA + hidapi";
    private static final String FROM_C = "hidapi from C";

    private final BenchArguments arguments;
    private final boolean floors;
    private final boolean peers;
    private final int repetitions;
    private final int callsPerRepetition;
    private final int latencyPasses;
    private final int latencyReports;
    private final int opensPerBatch;

    private final QuenHIDOper scanner = new QuenHIDOper();
    private final HidapiThroughJna jna;
    private int scannerDevice = -1;
    private int foreignDevices = 0;
    private int openBatchesDropped;

    private HidrawVmBench(BenchArguments arguments) {
        this.arguments = arguments;
        floors = arguments.wants("floor");
        peers = arguments.wants("peer");
        repetitions = arguments.repetitions;
        callsPerRepetition = arguments.quick ? 4 * BATCH : 16_384;
        latencyPasses = arguments.quick ? 1 : 5;
        latencyReports = arguments.quick ? 20 : 1000;
        opensPerBatch = arguments.quick ? 3 : 20;
        jna = peers ? new HidapiThroughJna(Uhid.scannerIds()) : null;
    }

    public static void main(String[] args) throws IOException {
        new HidrawVmBench(new BenchArguments(args, "calls", "latency", "open", "floor", "peer"))
                .run();
    }

    private void run() throws IOException {
        System.out.println(Stats.format("JVM: %s %s; bridge and device side from %s; %d CPUs",
                System.getProperty("java.vm.name"), System.getProperty("java.vm.version"),
                System.getProperty("java.library.path"),
                Runtime.getRuntime().availableProcessors()));
        scanner.SetMode(false);
        arrange(1);
        if (peers) {
            System.out.println("hidapi's hid_enumerate(0, 0) with the scanner alone plugged in"
                    + " (udev's library over sysfs; no udev daemon or database in the guest): "
                    + jna.describeAll() + ".");
        }
        if (arguments.wants("calls")) {
            perCall();
        }
        if (arguments.wants("latency")) {
            latency();
        }
        if (arguments.wants("open")) {
            openCost();
        }
        closeAll();
    }

    private void closeAll() {
        scanner.Close();
        Uhid.floorClose();
        if (peers) {
            jna.close();
            HidapiFromC.close();
        }
    }

    /** {@code devices} HID devices present, the scanner plugged last; every side open on it. */
    private void arrange(int devices) {
        closeAll();
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
        if (floors) {
            Paired.check(Uhid.floorOpen(Uhid.node(scannerDevice)), "the floor did not open the node");
        }
        if (peers) {
            Paired.check(jna.open(), "hidapi through JNA did not open the scanner");
            Paired.check(HidapiFromC.open(), "hidapi from C did not open the scanner");
        }
    }

    /** Calls {@code read} in a loop; each call must give a whole report. */
    private static Paired.Loop reads(String who, Supplier<char[]> read) {
        return new Paired.Loop() {
            @Override
            void calls(int n) {
                long chars = 0;
                for (int i = 0; i < n; ++i) {
                    char[] report = read.get();
                    chars += report == null ? 0 : report.length;
                }
                Paired.check(chars == (long) REPORT_CHARS * n,
                        "a read of the " + who + " did not give 64 chars");
            }
        };
    }

    private void perCall() throws IOException {
        Paired paired = new Paired(BATCH);
        List<Paired.Loop> loops = new ArrayList<>();
        loops.add(reads("bridge", scanner::read));
        final int floor = loops.size();
        if (floors) {
            loops.add(reads("floor", Uhid::floorRead));
            loops.add(reads("floor", Uhid::floorReadNoWait));
        }
        final int peer = loops.size();
        if (peers) {
            loops.add(reads(JNA, jna::read));
            loops.add(reads(FROM_C, HidapiFromC::read));
        }
        Paired.Loop[] all = loops.toArray(new Paired.Loop[0]);
        // Each round queues BATCH reports on every fd of the node (untimed); every side then
        // reads them from its own fds.
        Runnable refill = () -> Paired.check(Uhid.send(scannerDevice, BATCH), "uhid refused");
        paired.run(3, Math.max(callsPerRepetition, 8192), refill, all);
        String load = Noise.loadAverage();
        Paired.Result reads = paired.run(repetitions, callsPerRepetition, refill, all);
        String method = Stats.format("ns per call, median (min-p90) over %d repetitions of %,d"
                        + " calls each; each round hands %d reports to uhid (untimed), then %s read"
                        + " them from their own fds of the node in batches that take turns (a"
                        + " repetition's figure is its median batch); %d ns of timer cost taken off"
                        + " each batch; rounds during which the JVM collected garbage or compiled"
                        + " are dropped",
                repetitions, callsPerRepetition, BATCH, sides(), Paired.TIMER_NANOS);
        if (floors) {
            BridgeTables.heading("Kernel VM: read per call, reports queued", method, load);
            BridgeTables.callHeader();
            BridgeTables.callRow("scanner read(), 64-byte report", "poll + read + new char[64]",
                    reads, 0, floor, READ_TARGET);
            BridgeTables.callRow("", "poll (time-out 0) + read + new char[64]", reads, 0,
                    floor + 1, 0);
        }
        if (peers) {
            BridgeTables.heading("Kernel VM: read per call against hidapi, reports queued",
                    method, load);
            BridgeTables.callHeader("peer");
            BridgeTables.callRow("scanner read(), 64-byte report",
                    JNA + ": hid_read_timeout (500 ms) into a byte[64], then new char[64]", reads,
                    0, peer, PEER_TARGET);
            BridgeTables.callRow("", FROM_C + ": the same calls, new char[64] through JNI",
                    reads, 0, peer + 1, 0);
            long[] bytes = allocatedPerCall(refill, all);
            System.out.println();
            System.out.println(Stats.format("Java heap allocated per call (the thread's allocated"
                            + " bytes over %d calls of each): bridge %d B, %s %d B, %s %d B. Rounds"
                            + " with a collection are dropped for every side alike, so what"
                            + " collecting this garbage costs is in no figure.",
                    ALLOCATION_ROUNDS * BATCH, bytes[0], JNA, bytes[peer], FROM_C,
                    bytes[peer + 1]));
        }
    }

    /** The heap each loop's calls allocate, bytes per call, the loops taking turns as timed. */
    private static long[] allocatedPerCall(Runnable refill, Paired.Loop[] loops) {
        com.sun.management.ThreadMXBean threads =
                (com.sun.management.ThreadMXBean) ManagementFactory.getThreadMXBean();
        long[] bytes = new long[loops.length];
        for (int round = 0; round < ALLOCATION_ROUNDS; ++round) {
            refill.run();
            for (int k = 0; k < loops.length; ++k) {
                long before = threads.getCurrentThreadAllocatedBytes();
                loops[k].calls(BATCH);
                bytes[k] += threads.getCurrentThreadAllocatedBytes() - before;
            }
        }
        for (int k = 0; k < loops.length; ++k) {
            bytes[k] /= (long) ALLOCATION_ROUNDS * BATCH;
        }
        return bytes;
    }

    /** What the report loops name the sides that take turns. */
    private String sides() {
        List<String> names = new ArrayList<>();
        names.add("the bridge");
        if (floors) {
            names.add("the floor");
        }
        if (peers) {
            names.add(JNA);
            names.add(FROM_C);
        }
        if (names.size() == 1) {
            return names.get(0);
        }
        return String.join(", ", names.subList(0, names.size() - 1)) + " and "
                + names.get(names.size() - 1);
    }

    /**
     * One side's way to the scanner's next report: a read that waits for it (the scanner's 500 ms
     * at most), and the untimed take of the one report its fds hold after another side's turn.
     */
    private static final class Reader {
        final String name;
        final Supplier<char[]> read;
        final BooleanSupplier takeQueued;

        Reader(String name, Supplier<char[]> read, BooleanSupplier takeQueued) {
            this.name = name;
            this.read = read;
            this.takeQueued = takeQueued;
        }
    }

    private List<Reader> readers() {
        List<Reader> readers = new ArrayList<>();
        readers.add(new Reader("bridge", scanner::read, () -> scanner.read() != null));
        if (floors) {
            readers.add(new Reader("floor", Uhid::floorRead, () -> Uhid.floorDrain() == 1));
        }
        if (peers) {
            readers.add(new Reader(JNA, jna::read, () -> jna.drain() == 1));
            readers.add(new Reader(FROM_C, HidapiFromC::read, () -> HidapiFromC.drain() == 1));
        }
        return readers;
    }

    private void latency() throws IOException {
        List<Reader> readers = readers();
        // Compiled first, as in the timed passes.
        latencyPass(readers, Math.max(latencyReports, 200));
        String load = Noise.loadAverage();
        double[] percentiles = {50, 90, 99};
        double[][][] us = new double[readers.size()][percentiles.length][latencyPasses];
        int late = 0;
        int noisy = 0;
        int gaveUp = 0;
        int failed = 0;
        for (int pass = 0; pass < latencyPasses; ++pass) {
            LatencyPass p = latencyPass(readers, latencyReports);
            for (int r = 0; r < readers.size(); ++r) {
                for (int k = 0; k < percentiles.length; ++k) {
                    us[r][k][pass] = Stats.percentile(p.ns[r], percentiles[k]) / 1000;
                }
            }
            late += p.late;
            noisy += p.noisy;
            gaveUp += p.gaveUp;
            failed += p.failed;
        }
        String method = Stats.format("us from the moment the report is handed to uhid (a"
                        + " System.nanoTime() just before the UHID_INPUT2 write, by a thread of this"
                        + " JVM) to the return of the read blocked for it; %s take turns, %d"
                        + " reports each per pass, each sent %d ms after its read was started;"
                        + " median (min-p90) over %d passes",
                sides(), latencyReports, SEND_LEAD_NS / 1_000_000, latencyPasses);
        String notCounted = Stats.format("Not counted: %d reads that began after their report"
                        + " was handed over, %d during which the JVM collected garbage or compiled,"
                        + " %d that gave up (500 ms) before it was handed over (the host stalled"
                        + " the sender), %d that failed before it was handed over.",
                late, noisy, gaveUp, failed);
        if (floors) {
            BridgeTables.heading("Kernel VM: report-to-Java latency", method, load);
            latencyTable(readers, us, 1);
            double[] overFloor = Stats.differences(us[0][0], us[1][0]);
            System.out.println(Stats.format("Target: bridge - floor under %.0f us at the median:"
                            + " %s. %s", LATENCY_TARGET_US,
                    Stats.median(overFloor) < LATENCY_TARGET_US ? "met" : "**missed**",
                    notCounted));
        }
        if (peers) {
            int peer = readers.size() - 2;
            BridgeTables.heading("Kernel VM: report-to-Java latency against hidapi", method, load);
            latencyTable(readers, us, peer, peer + 1);
            double[] overJna = Stats.differences(us[0][0], us[peer][0]);
            System.out.println(Stats.format("Target: bridge at or under %s at the median (bridge"
                            + " - %s at most 0): %s. %s", JNA, JNA,
                    Stats.median(overJna) <= 0 ? "met" : "**missed**", notCounted));
        }
    }

    /** The bridge and the readers {@code compared}, then the bridge's difference to each. */
    private static void latencyTable(List<Reader> readers, double[][][] us, int... compared) {
        System.out.println("| | median | 90th percentile | 99th percentile |");
        System.out.println("|---|---|---|---|");
        int[] rows = new int[compared.length + 1];
        System.arraycopy(compared, 0, rows, 1, compared.length);
        for (int r : rows) {
            System.out.println("| " + readers.get(r).name + " | " + Stats.spread(us[r][0], "%.1f")
                    + " | " + Stats.spread(us[r][1], "%.1f") + " | "
                    + Stats.spread(us[r][2], "%.1f") + " |");
        }
        for (int r : compared) {
            System.out.println("| bridge - " + readers.get(r).name + " | "
                    + Stats.spread(Stats.differences(us[0][0], us[r][0]), "%.1f") + " | | |");
        }
        System.out.println();
    }

    private static final class LatencyPass {
        double[][] ns;  // [reader][kept sample]
        int late;
        int noisy;
        int gaveUp;
        int failed;
    }

    /**
     * Each report goes to one reader, the readers taking turns (which goes first rotates); the
     * other readers' fds hold it too and take it at once, untimed.
     */
    private LatencyPass latencyPass(List<Reader> readers, int reports) {
        int sides = readers.size();
        double[][] ns = new double[sides][reports];
        int[] kept = new int[sides];
        LatencyPass pass = new LatencyPass();
        for (int i = 0; i < reports; ++i) {
            for (int k = 0; k < sides; ++k) {
                int r = (i + k) % sides;
                Reader reader = readers.get(r);
                Noise noise = Noise.mark();
                Paired.check(Uhid.sendAt(scannerDevice, System.nanoTime() + SEND_LEAD_NS),
                        "no send");
                long called = System.nanoTime();
                char[] report = reader.read.get();
                long back = System.nanoTime();
                long handed = Uhid.sentAt();
                Paired.check(handed > 0, "uhid refused report " + i);
                if (report == null) {
                    // The read gave up (the scanner's 500 ms: the host stalled the sender) or
                    // failed before the report was handed over. It is queued now: taken untimed.
                    if (back - called >= READ_TIMEOUT_NS) {
                        ++pass.gaveUp;
                    } else {
                        ++pass.failed;
                    }
                    Paired.check(reader.takeQueued.getAsBoolean(),
                            "the " + reader.name + "'s fd did not hold report " + i);
                } else if (report.length != REPORT_CHARS) {
                    throw new IllegalStateException(
                            "report " + i + " did not reach the " + reader.name + " whole");
                } else if (!noise.quietSince()) {
                    ++pass.noisy;
                } else if (called >= handed) {
                    ++pass.late;
                } else {
                    ns[r][kept[r]++] = back - handed;
                }
                for (Reader other : readers) {
                    Paired.check(other == reader || other.takeQueued.getAsBoolean(),
                            "the " + other.name + "'s fd did not hold report " + i);
                }
            }
        }
        pass.ns = new double[sides][];
        for (int r = 0; r < sides; ++r) {
            pass.ns[r] = Arrays.copyOf(ns[r], kept[r]);
        }
        return pass;
    }

    /** One side's Open: the bridge's, or a peer's find and open. */
    private static final class Opener {
        final String name;
        final BooleanSupplier open;

        Opener(String name, BooleanSupplier open) {
            this.name = name;
            this.open = open;
        }
    }

    private void openCost() throws IOException {
        List<Opener> openers = new ArrayList<>();
        openers.add(new Opener("bridge", scanner::Open));
        if (peers) {
            openers.add(new Opener(JNA, jna::open));
            openers.add(new Opener(FROM_C, HidapiFromC::open));
        }
        double[][][] ns = new double[openers.size()][DEVICES.length][repetitions];
        openBatchesDropped = 0;
        String[] loads = new String[DEVICES.length];
        for (int rep = -1; rep < repetitions; ++rep) {  // repetition -1 warms up
            for (int s = 0; s < DEVICES.length; ++s) {
                arrange(DEVICES[s]);
                if (rep == 0) {
                    loads[s] = Noise.loadAverage();
                }
                for (int k = 0; k < openers.size(); ++k) {
                    int o = (Math.max(rep, 0) + k) % openers.size();
                    double elapsed = timeOpens(openers.get(o), rep >= 0);
                    if (rep >= 0) {
                        ns[o][s][rep] = elapsed / opensPerBatch;
                    }
                }
            }
        }
        String sizes = "the devices are keyboards of another maker and the scanner, plugged in"
                + " last so that it enumerates last; the sizes take turns";
        String droppedNote = Stats.format("%d batches dropped for the JVM's garbage collection or"
                + " compilation", openBatchesDropped);
        if (floors) {
            BridgeTables.heading("Kernel VM: Open against the HID devices present", Stats.format(
                    "us per Open (a search of every hidraw node's sysfs entries, then the channels"
                            + " closed and opened again), median (min-p90) over %d repetitions of"
                            + " %d Opens; %s; per device: (Open(N) - Open(1)) / (N - 1); %s",
                    repetitions, opensPerBatch, sizes, droppedNote));
            openTable(ns[0], loads);
        }
        if (peers) {
            BridgeTables.heading("Kernel VM: Open against hidapi's find and open", Stats.format(
                    "us per Open, median (min-p90) over %d repetitions of %d Opens each, the"
                            + " sides taking turns; the peers close the scanner, list the maker's"
                            + " interfaces (hid_enumerate(vendor, 0)), take the first on the"
                            + " scanner's usage page and usage (%s: in Java, from the list JNA"
                            + " reads), and hid_open_path it; %s; %s",
                    repetitions, opensPerBatch, JNA, sizes, droppedNote));
            System.out.println("| devices | bridge Open, us | " + JNA + ", us | " + FROM_C
                    + ", us | bridge / " + JNA + " | bridge / " + FROM_C + " | target |");
            System.out.println("|---|---|---|---|---|---|---|");
            for (int s = 0; s < DEVICES.length; ++s) {
                double[] overJna = Stats.ratios(ns[0][s], ns[1][s]);
                System.out.println("| " + DEVICES[s] + " | " + microseconds(ns[0][s]) + " | "
                        + microseconds(ns[1][s]) + " | " + microseconds(ns[2][s]) + " | "
                        + Stats.spread(overJna, "%.2fx") + " | "
                        + Stats.spread(Stats.ratios(ns[0][s], ns[2][s]), "%.2fx") + " | "
                        + Stats.format("%.2fx: %s", PEER_TARGET,
                                Stats.median(overJna) <= PEER_TARGET ? "met" : "**missed**")
                        + " |");
            }
            System.out.println();
            System.out.println("Per device present, us: (Open(N) - Open(1)) / (N - 1), median"
                    + " (min-p90) over the repetitions.");
            System.out.println();
            System.out.println("| devices | bridge | " + JNA + " | " + FROM_C + " |");
            System.out.println("|---|---|---|---|");
            for (int s = 1; s < DEVICES.length; ++s) {
                System.out.println("| " + DEVICES[s] + " | " + perDevice(ns[0], s) + " | "
                        + perDevice(ns[1], s) + " | " + perDevice(ns[2], s) + " |");
            }
        }
        arrange(1);
    }

    /**
     * ns for a batch of Opens, tried again (at most three times) while the JVM collected garbage
     * or compiled during it; the tries given up are counted when {@code counted}.
     */
    private long timeOpens(Opener opener, boolean counted) {
        for (int attempt = 0;; ++attempt) {
            Noise noise = Noise.mark();
            long start = System.nanoTime();
            int opened = 0;
            for (int i = 0; i < opensPerBatch; ++i) {
                opened += opener.open.getAsBoolean() ? 1 : 0;
            }
            long elapsed = System.nanoTime() - start - Paired.TIMER_NANOS;
            Paired.check(opened == opensPerBatch, "the " + opener.name + " did not open the scanner");
            if (noise.quietSince() || attempt == 3) {
                return elapsed;
            }
            openBatchesDropped += counted ? 1 : 0;
        }
    }

    private static String microseconds(double[] ns) {
        double[] us = ns.clone();
        for (int i = 0; i < us.length; ++i) {
            us[i] /= 1000;
        }
        return Stats.spread(us, "%.1f");
    }

    private void openTable(double[][] ns, String[] loads) {
        System.out.println("| devices | Open, us | per device, us | load average |");
        System.out.println("|---|---|---|---|");
        for (int s = 0; s < DEVICES.length; ++s) {
            System.out.println("| " + DEVICES[s] + " | " + microseconds(ns[s]) + " | "
                    + perDevice(ns, s) + " | " + loads[s] + " |");
        }
    }

    /** us per device present at size {@code s}: (Open(N) - Open(1)) / (N - 1); "" at 1. */
    private static String perDevice(double[][] ns, int s) {
        int n = DEVICES[s];
        if (n == 1) {
            return "";
        }
        double[] each = Stats.differences(ns[s], ns[0]);
        for (int i = 0; i < each.length; ++i) {
            each[i] /= 1000.0 * (n - 1);
        }
        return Stats.spread(each, "%.1f");
    }
}
