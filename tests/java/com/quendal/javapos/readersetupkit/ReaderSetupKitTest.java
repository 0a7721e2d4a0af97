package com.quendal.javapos.readersetupkit;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.util.Arrays;
import java.util.Map;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** The bridge in a real JVM, calling the configuration library's stand-in (see StandInLog). */
class ReaderSetupKitTest {
    @BeforeEach
    void startAfresh() throws IOException {
        StandInLog.clear();
    }

    @Test
    void downloadHandsOverTheRecordAndTexts() throws IOException {
        StandInLog.storeResult(7);
        assertEquals(7, ReaderSetupKit.DownloadConfigFile("C:\\cfg\\till.cfg", 18, 2, -7, 3, 6, 1,
                "note"));
        assertEquals(StandInLog.CALLED, StandInLog.events());
        Map<String, String> call = StandInLog.lastCall();
        assertEquals("DownloadConfigFile", call.get("function"));
        assertEquals(Arrays.asList("5", "2", "3", "-7", "1", "1", "0"),
                Arrays.asList(call.get("value1"), call.get("value2"), call.get("value4"),
                        call.get("value3"), call.get("alwaysOne"), call.get("value6"),
                        call.get("value5")));
        assertEquals(StandInLog.hex("C:\\cfg\\till.cfg"), call.get("text1"));
        assertEquals(StandInLog.hex("note"), call.get("text2"));
        assertEquals("", call.get("text3"));
        assertEquals("0", call.get("zeros"));
    }

    @Test
    void uploadCarriesNonAsciiAndSupplementaryCharactersAsTheirOwnUnits() throws IOException {
        String text = "Z\u00fc\u20ac\ud83d\ude00.cfg";
        assertEquals(-1, ReaderSetupKit.UploadConfigFile(text, 0, 0, 0, 0, 0, 0, null));
        Map<String, String> call = StandInLog.lastCall();
        assertEquals("UploadConfigFile", call.get("function"));
        assertEquals(StandInLog.hex(text), call.get("text1"));
        assertEquals("", call.get("text2"));
        assertEquals("1", call.get("text2IsText3"));
        assertEquals(StandInLog.CALLED, StandInLog.events());
    }

    @Test
    void flashPausesTenSecondsOnceAfterTheCall() throws IOException {
        StandInLog.storeResult(3);
        long start = System.nanoTime();
        int result = ReaderSetupKit.FlashScannerFile("fw.bin", 0, 0, 0, 0, 0, 0, "");
        long elapsedMs = (System.nanoTime() - start) / 1_000_000;
        assertEquals(3, result);
        assertTrue(elapsedMs >= 9900 && elapsedMs < 19000, "took " + elapsedMs + " ms");
        assertEquals(StandInLog.CALLED, StandInLog.events());
        assertEquals("0,0", StandInLog.lastCall().get("zeros"));
        assertEquals("0", StandInLog.lastCall().get("text2IsText3"));
    }
}
