package com.quendal.javapos.readersetupkit;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

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
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * The bridge in a real JVM, calling the configuration library's stand-in, which the system's
 * library search finds by its bare name. The stand-in logs what it received into the folder that
 * QUEN_DOUBLE_DIR names and stores the number in that folder's "result" file, if there is one.
 */
class ReaderSetupKitTest {
    private static final Path FOLDER = Paths.get(System.getenv("QUEN_DOUBLE_DIR"));
    private static final Path LOG = FOLDER.resolve("log");
    private static final Path RESULT = FOLDER.resolve("result");
    private static final List<String> CALLED = Arrays.asList("load", "call", "unload");

    @BeforeEach
    void startAfresh() throws IOException {
        Files.createDirectories(FOLDER);
        Files.deleteIfExists(LOG);
        Files.deleteIfExists(RESULT);
    }

    private static void storeResult(int result) throws IOException {
        Files.write(RESULT, Integer.toString(result).getBytes(StandardCharsets.US_ASCII));
    }

    private static List<String> lines() throws IOException {
        return Files.exists(LOG) ? Files.readAllLines(LOG) : new ArrayList<String>();
    }

    private static List<String> events() throws IOException {
        List<String> events = new ArrayList<>();
        for (String line : lines()) {
            events.add(line.split(" ")[0]);
        }
        return events;
    }

    private static Map<String, String> lastCall() throws IOException {
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

    private static String hex(String text) {
        StringBuilder out = new StringBuilder();
        for (char c : text.toCharArray()) {
            out.append(String.format("%04x", (int) c));
        }
        return out.toString();
    }

    @Test
    void downloadHandsOverTheRecordAndTexts() throws IOException {
        storeResult(7);
        assertEquals(7, ReaderSetupKit.DownloadConfigFile("C:\\cfg\\till.cfg", 18, 2, -7, 3, 6, 1,
                "note"));
        assertEquals(CALLED, events());
        Map<String, String> call = lastCall();
        assertEquals("DownloadConfigFile", call.get("function"));
        assertEquals(Arrays.asList("5", "2", "3", "-7", "1", "1", "0"),
                Arrays.asList(call.get("value1"), call.get("value2"), call.get("value4"),
                        call.get("value3"), call.get("alwaysOne"), call.get("value6"),
                        call.get("value5")));
        assertEquals(hex("C:\\cfg\\till.cfg"), call.get("text1"));
        assertEquals(hex("note"), call.get("text2"));
        assertEquals("", call.get("text3"));
        assertEquals("0", call.get("zeros"));
    }

    @Test
    void uploadCarriesNonAsciiAndSupplementaryCharactersAsTheirOwnUnits() throws IOException {
        String text = "Z\u00fc\u20ac\ud83d\ude00.cfg";
        assertEquals(-1, ReaderSetupKit.UploadConfigFile(text, 0, 0, 0, 0, 0, 0, null));
        Map<String, String> call = lastCall();
        assertEquals("UploadConfigFile", call.get("function"));
        assertEquals(hex(text), call.get("text1"));
        assertEquals("", call.get("text2"));
        assertEquals("1", call.get("text2IsText3"));
        assertEquals(CALLED, events());
    }

    @Test
    void flashPausesTenSecondsOnceAfterTheCall() throws IOException {
        storeResult(3);
        long start = System.nanoTime();
        int result = ReaderSetupKit.FlashScannerFile("fw.bin", 0, 0, 0, 0, 0, 0, "");
        long elapsedMs = (System.nanoTime() - start) / 1_000_000;
        assertEquals(3, result);
        assertTrue(elapsedMs >= 9900 && elapsedMs < 19000, "took " + elapsedMs + " ms");
        assertEquals(CALLED, events());
        assertEquals("0,0", lastCall().get("zeros"));
        assertEquals("0", lastCall().get("text2IsText3"));
    }
}
