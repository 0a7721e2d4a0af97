package com.quendal.javapos.usb;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

/**
 * Sets up the simulated HID bus of a library built on the simulated platform: the library takes
 * up the scenario file named by QUENLINK_SIM_SCENARIO before each device search, and appends what
 * each write put on the wire to the wire log that the scenario names.
 */
public final class SimScenario {
    private static int generation;

    private final Path file;
    private final Path wire;

    public SimScenario() {
        String name = System.getenv("QUENLINK_SIM_SCENARIO");
        if (name == null) {
            throw new IllegalStateException("QUENLINK_SIM_SCENARIO is not set");
        }
        file = Paths.get(name);
        wire = Paths.get(name + ".wire");
    }

    /** Replaces the bus with these lines; the next search sees them. */
    public void set(String... lines) throws IOException {
        Files.deleteIfExists(wire);
        StringBuilder text = new StringBuilder();
        // A fresh bus for every call, even when the lines repeat.
        text.append("# generation ").append(++generation).append('\n');
        text.append("wire ").append(wire).append('\n');
        for (String line : lines) {
            text.append(line).append('\n');
        }
        Files.write(file, text.toString().getBytes(StandardCharsets.UTF_8));
    }

    /** The writes so far, each as "path outcome hex...". */
    public List<String> wire() throws IOException {
        return Files.exists(wire) ? Files.readAllLines(wire) : new ArrayList<String>();
    }

    public static String scanner(String path, String usage) {
        return "interface " + path + " vendor=0x2E5A product=0x0101 page=0xFF45 usage=" + usage
                + " in=64 out=64";
    }

    public static String scale(String path) {
        return "interface " + path + " vendor=0x2E5A product=0x0201 page=0xFF45 usage=0x6E00"
                + " in=64 out=64";
    }
}
