package com.quendal.bench;

import java.io.IOException;
import java.lang.management.CompilationMXBean;
import java.lang.management.GarbageCollectorMXBean;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * What the JVM did besides the code being timed: garbage collections (exact counts) and JIT
 * compilation (the JVM's total compilation time, which it reports in whole milliseconds, so a
 * compilation shorter than that may go unseen until a millisecond has summed up). A timed batch
 * during which either moved is not counted, and the count of such batches is reported.
 */
final class Noise {
    private static final CompilationMXBean JIT = ManagementFactory.getCompilationMXBean();

    private final long collections;
    private final long compilingMs;

    private Noise() {
        long count = 0;
        for (GarbageCollectorMXBean gc : ManagementFactory.getGarbageCollectorMXBeans()) {
            count += Math.max(0, gc.getCollectionCount());
        }
        collections = count;
        compilingMs = JIT.isCompilationTimeMonitoringSupported() ? JIT.getTotalCompilationTime() : 0;
    }

    /** The counts now. */
    static Noise mark() {
        return new Noise();
    }

    /** True when no collection ran and no compilation time was added since {@code this}. */
    boolean quietSince() {
        Noise now = new Noise();
        return now.collections == collections && now.compilingMs == compilingMs;
    }

    /** The 1, 5 and 15 minute load averages of the machine this JVM runs on. */
    static String loadAverage() throws IOException {
        String[] fields = new String(Files.readAllBytes(Paths.get("/proc/loadavg")),
                StandardCharsets.US_ASCII).trim().split(" ");
        return fields[0] + " " + fields[1] + " " + fields[2];
    }
}
