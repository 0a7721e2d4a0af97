package com.quendal.javapos.usb;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;

/**
 * What the Java programs run in the kernel VM share: checks that print what failed and go on, so
 * that one boot reports every failure, and the programs they run beside the JVM (the probe,
 * udevadm).
 */
final class GuestChecks {
    private static int failures;

    private GuestChecks() {}

    static void check(boolean holds, String what) {
        if (!holds) {
            System.out.println("FAILED: " + what);
            ++failures;
        }
    }

    /** Runs a program as this user; its exit status, its output appended to {@code output}. */
    static int run(StringBuilder output, String... command) throws Exception {
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        try (BufferedReader lines = new BufferedReader(
                     new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
            for (String line; (line = lines.readLine()) != null;) {
                output.append(line).append('\n');
            }
        }
        return process.waitFor();
    }

    /** Prints "LABEL: every check held" or how many failed, and exits 0 or 1. */
    static void finish(String label) {
        System.out.println(
                label + ": " + (failures == 0 ? "every check held" : failures + " failed"));
        System.exit(failures == 0 ? 0 : 1);
    }
}
