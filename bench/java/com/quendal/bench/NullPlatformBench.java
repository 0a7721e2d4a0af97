package com.quendal.bench;

import com.quendal.javapos.usb.QuenHIDOper;
import com.quendal.javapos.usb.QuenHIDScaleOper;
import java.io.IOException;
import java.util.Arrays;

/**
 * The bridges' own cost per call, printed as Markdown: the scanner and scale bridges built on the
 * null platform (bench/null_platform: a read hands back a fixed report at once, a write is taken
 * at once), so that what is timed is the shipped JNI glue, device object and reader, against the
 * JNI floor in the same JVM. Then the resident set over long runs of calls.
 *
 * <p>Arguments: [--repetitions N] [--quick] [--only calls,memory]. java.library.path must name
 * bench-lib/null (the bridges) and bench-lib (the floor), never lib/.
 */
public final class NullPlatformBench {
    private static final int BATCH = 1000;
    private static final double READ_TARGET = 1.3;
    private static final double WRITE_TARGET = 1.3;

    private final BenchArguments arguments;
    private final int repetitions;
    private final int callsPerRepetition;
    private final int memoryCalls;

    private final QuenHIDOper scanner = new QuenHIDOper();
    private final QuenHIDScaleOper scale = new QuenHIDScaleOper();
    private final JniFloor floor = new JniFloor();
    private final char[] data = new char[64];

    private NullPlatformBench(BenchArguments arguments) {
        this.arguments = arguments;
        repetitions = arguments.repetitions;
        callsPerRepetition = arguments.quick ? 10 * BATCH : 100_000;
        memoryCalls = arguments.quick ? 20_000 : 1_000_000;
    }

    public static void main(String[] args) throws IOException {
        new NullPlatformBench(new BenchArguments(args, "calls", "memory")).run();
    }

    private void run() throws IOException {
        System.out.println(Stats.format("JVM: %s %s; bridges and floor from %s",
                System.getProperty("java.vm.name"), System.getProperty("java.vm.version"),
                System.getProperty("java.library.path")));
        Arrays.fill(data, 'A');
        scanner.SetMode(false);
        Paired.check(scanner.Open() && scale.Open(), "the null platform's devices did not open");
        if (arguments.wants("calls")) {
            perCall();
        }
        if (arguments.wants("memory")) {
            memory();
        }
        scanner.Close();
        scale.Close();
    }

    // Each loop is a class of its own, so the JIT compiles each call site for one receiver.

    private final Paired.Loop scannerRead = new Paired.Loop() {
        @Override
        void calls(int n) {
            long chars = 0;
            for (int i = 0; i < n; ++i) {
                chars += scanner.read().length;
            }
            Paired.check(chars == 64L * n, "a scanner read did not give 64 chars");
        }
    };
    private final Paired.Loop floorRead = new Paired.Loop() {
        @Override
        void calls(int n) {
            long chars = 0;
            for (int i = 0; i < n; ++i) {
                chars += floor.read().length;
            }
            Paired.check(chars == 64L * n, "a floor read did not give 64 chars");
        }
    };
    private final Paired.Loop scaleRead = new Paired.Loop() {
        @Override
        void calls(int n) {
            long chars = 0;
            for (int i = 0; i < n; ++i) {
                chars += scale.read().length;
            }
            Paired.check(chars == 1024L * n, "a scale read did not give 16 records");
        }
    };
    private final Paired.Loop floorReadBlock = new Paired.Loop() {
        @Override
        void calls(int n) {
            long chars = 0;
            for (int i = 0; i < n; ++i) {
                chars += floor.readBlock().length;
            }
            Paired.check(chars == 1024L * n, "a floor block did not give 1024 chars");
        }
    };
    private final Paired.Loop scannerWrite = new Paired.Loop() {
        @Override
        void calls(int n) {
            int taken = 0;
            for (int i = 0; i < n; ++i) {
                taken += scanner.write(data) ? 1 : 0;
            }
            Paired.check(taken == n, "a scanner write was not taken");
        }
    };
    private final Paired.Loop scaleWrite = new Paired.Loop() {
        @Override
        void calls(int n) {
            int taken = 0;
            for (int i = 0; i < n; ++i) {
                taken += scale.write(data) ? 1 : 0;
            }
            Paired.check(taken == n, "a scale write was not taken");
        }
    };
    private final Paired.Loop floorWrite = new Paired.Loop() {
        @Override
        void calls(int n) {
            int taken = 0;
            for (int i = 0; i < n; ++i) {
                taken += floor.write(data) ? 1 : 0;
            }
            Paired.check(taken == n, "a floor write failed");
        }
    };
    private final Paired.Loop floorWriteSized = new Paired.Loop() {
        @Override
        void calls(int n) {
            int taken = 0;
            for (int i = 0; i < n; ++i) {
                taken += floor.writeSized(data) ? 1 : 0;
            }
            Paired.check(taken == n, "a floor write failed");
        }
    };

    private void perCall() throws IOException {
        Paired paired = new Paired(BATCH);
        Paired.Loop[][] comparisons = {
            {scannerRead, floorRead},
            {scannerWrite, floorWriteSized, floorWrite},
            {scaleRead, floorReadBlock},
            {scaleWrite, floorWriteSized},
        };
        // Every timed loop is compiled before anything counts.
        for (Paired.Loop[] loops : comparisons) {
            paired.run(5, loops == comparisons[2] ? callsPerRepetition / 10 : callsPerRepetition,
                    null, loops);
        }
        BridgeTables.heading("Null platform: per call through the JVM", Stats.format(
                "ns per call, median (min-p90) over %d repetitions of %,d calls each, in batches"
                        + " of %,d that take turns with the floors' (a repetition's figure is its"
                        + " median batch); %d ns of timer cost taken off each batch; a round of"
                        + " batches during which the JVM collected garbage or compiled is dropped",
                repetitions, callsPerRepetition, BATCH, Paired.TIMER_NANOS));
        BridgeTables.callHeader();
        Paired.Result reads = paired.run(repetitions, callsPerRepetition, null, comparisons[0]);
        BridgeTables.callRow("scanner read(), 64-char report", "read: new char[64]", reads, 0, 1,
                READ_TARGET);
        Paired.Result writes = paired.run(repetitions, callsPerRepetition, null, comparisons[1]);
        BridgeTables.callRow("scanner write(char[64])", "write: asks the length, copies 64",
                writes, 0, 1, WRITE_TARGET);
        BridgeTables.callRow("", "write: copies 64 (length known)", writes, 0, 2, 0);
        // A block is sixteen reports and a 1024-char array: a tenth as many calls.
        Paired.Result blocks = paired.run(repetitions, callsPerRepetition / 10, null,
                comparisons[2]);
        BridgeTables.callRow("scale read(), 16 records (a tenth as many calls)",
                "read: new char[1024]", blocks, 0, 1, 0);
        Paired.Result scaleWrites =
                paired.run(repetitions, callsPerRepetition, null, comparisons[3]);
        BridgeTables.callRow("scale write(char[64])", "write: asks the length, copies 64",
                scaleWrites, 0, 1, 0);
    }

    private void memory() throws IOException {
        BridgeTables.heading("Null platform: resident set", "VmRSS of the JVM (fixed,"
                + " pre-touched heap), kB, before and after each run of calls on the scanner"
                + " bridge, each after a warm-up of a tenth as many");
        System.out.println("| calls | VmRSS before | VmRSS after | change |");
        System.out.println("|---|---|---|---|");
        memoryRun("reads", () -> scannerRead.calls(BATCH));
        memoryRun("writes", () -> scannerWrite.calls(BATCH));
        memoryRun("Open/Close cycles", () -> {
            for (int i = 0; i < BATCH; ++i) {
                Paired.check(scanner.Open() && scanner.Close(), "Open or Close failed");
            }
        });
        Paired.check(scanner.Open(), "the scanner did not open again");
    }

    private void memoryRun(String what, Runnable batch) throws IOException {
        for (int done = 0; done < memoryCalls / 10; done += BATCH) {
            batch.run();
        }
        long before = Memory.residentKb();
        for (int done = 0; done < memoryCalls; done += BATCH) {
            batch.run();
        }
        long after = Memory.residentKb();
        System.out.println(Stats.format("| %,d %s | %,d | %,d | %+,d |", memoryCalls, what, before,
                after, after - before));
    }
}
