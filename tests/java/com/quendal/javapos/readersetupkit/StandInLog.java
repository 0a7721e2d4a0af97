package com.quendal.javapos.readersetupkit;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * What the configuration library's stand-in recorded. The system's library search finds the
 * stand-in by its bare name; it logs what it received into the folder that QUEN_DOUBLE_DIR names
 * and stores the number in that folder's "result" file, if there is one, in the result cell.
 */
public final class StandInLog {
    public static final List<String> CALLED = Arrays.asList("load", "call", "unload");
    public static final List<String> NOT_CALLED = Arrays.asList("load", "unload");

    private static final Path FOLDER = Paths.get(System.getenv("QUEN_DOUBLE_DIR"));
    private static final Path LOG = FOLDER.resolve("log");
    private static final Path RESULT = FOLDER.resolve("result");

    private StandInLog() {}

    /** Forgets every event and the stored result. */
    public static void clear() throws IOException {
        Files.createDirectories(FOLDER);
        Files.deleteIfExists(LOG);
        Files.deleteIfExists(RESULT);
    }

    public static void storeResult(int result) throws IOException {
        Files.write(RESULT, Integer.toString(result).getBytes(StandardCharsets.US_ASCII));
    }

    private static List<String> lines() throws IOException {
        return Files.exists(LOG) ? Files.readAllLines(LOG) : new ArrayList<String>();
    }

    /** The events so far: load, call, unload. */
    public static List<String> events() throws IOException {
        List<String> events = new ArrayList<>();
        for (String line : lines()) {
            events.add(line.split(" ")[0]);
        }
        return events;
    }

    /** The fields of the last call: function, value1..value6, texts as hex units, ... */
    public static Map<String, String> lastCall() throws IOException {
        Map<String, String> fields = new HashMap<>();
        for (String line : lines()) {
            if (line.startsWith("call ")) {
                fields.clear();
                for (String word : line.substring(5).split(" ")) {
                    String[] pair = word.split("=", 2);
                    fields.put(pair[0], pair[1]);
                }
            }
        }
        return fields;
    }

    /** A text's UTF-16 units as the stand-in logs them, four hex digits each. */
    public static String hex(String text) {
        StringBuilder out = new StringBuilder();
        for (char c : text.toCharArray()) {
            out.append(String.format("%04x", (int) c));
        }
        return out.toString();
    }
}
