package com.quendal.bench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;

/** The process's resident set (the JVM runs with a fixed, pre-touched heap). */
final class Memory {
    private Memory() {}

    /** VmRSS of this process in kB (Linux). */
    static long residentKb() throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new IllegalStateException("no VmRSS in /proc/self/status");
    }
}
