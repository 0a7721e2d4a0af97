package com.quendal.javapos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendal.javapos.readersetupkit.ReaderSetupKit;
import com.quendal.javapos.readersetupkit.StandInLog;
import com.quendal.javapos.usb.QuenHIDOper;
import com.quendal.javapos.usb.QuenHIDScaleOper;
import com.quendal.javapos.usb.SimScenario;
import java.io.IOException;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * Whatever a Java caller passes, every native method gives a defined result and the JVM lives
 * on: null arrays and strings, huge arrays and strings, every int extreme. The HID bridges run on
 * the simulated bus (its wire log shows what reached the device), the configuration bridge calls
 * the configuration library's stand-in (its log shows what reached the library).
 */
class HostileInputTest {
    private static final String REPORT_OF_0131 = " 00" + repeat(" 31", 63);
    private static final List<String> NOT_CALLED_TWICE =
            Arrays.asList("load", "unload", "load", "unload");

    private final QuenHIDOper scanner = new QuenHIDOper();
    private final QuenHIDScaleOper scale = new QuenHIDScaleOper();
    private final SimScenario bus = new SimScenario();

    /** The configuration bridge's three methods, FlashScannerFile last: a call it makes pauses. */
    private interface ConfigMethod {
        int call(String text1, int v1, int v2, int v3, int v4, int v5, int v6, String text2);
    }

    private static final List<ConfigMethod> REFUSING_AT_ONCE = Arrays.asList(
            ReaderSetupKit::DownloadConfigFile, ReaderSetupKit::UploadConfigFile,
            ReaderSetupKit::FlashScannerFile);

    @BeforeEach
    void devicesAndStandIn() throws IOException {
        bus.set(SimScenario.scanner("/sim/scanner", "0x4A00"), SimScenario.scale("/sim/scale"));
        assertTrue(scanner.Open());
        assertTrue(scale.Open());
        StandInLog.clear();
    }

    @AfterEach
    void close() {
        assertTrue(scanner.Close());
        assertTrue(scale.Close());
    }

    private static String repeat(String text, int times) {
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < times; ++i) {
            out.append(text);
        }
        return out.toString();
    }

    @Test
    void nullArraysAndStringsAreRefusedExceptANullText2() throws IOException {
        assertFalse(scanner.write(null));
        assertFalse(scale.write(null));
        assertEquals(0, bus.wire().size());

        // A null text1: the library is loaded and freed, its function never called.
        for (ConfigMethod method : REFUSING_AT_ONCE) {
            StandInLog.clear();
            assertEquals(-1, method.call(null, 0, 0, 0, 0, 0, 0, null));
            assertEquals(-1, method.call(null, 0, 0, 0, 0, 0, 0, "b"));
            assertEquals(NOT_CALLED_TWICE, StandInLog.events());
        }
        // A null text2 is an empty one. (FlashScannerFile shares this path; a call of it pauses
        // ten seconds, which another test pays for.)
        StandInLog.clear();
        assertEquals(-1, ReaderSetupKit.DownloadConfigFile("a", 0, 0, 0, 0, 0, 0, null));
        assertEquals(-1, ReaderSetupKit.UploadConfigFile("a", 0, 0, 0, 0, 0, 0, null));
        assertEquals(Arrays.asList("load", "call", "unload", "load", "call", "unload"),
                StandInLog.events());
        assertEquals("", StandInLog.lastCall().get("text2"));
    }

    @Test
    void aMillionCharWriteSendsOneReportOfTheDevicesLength() throws IOException {
        char[] huge = new char[1_000_000];
        Arrays.fill(huge, '\u0131');
        assertTrue(scanner.write(huge));
        assertTrue(scale.write(huge));
        // Byte 0 the report ID, then 63 low bytes: not one byte past the 64-byte output report.
        assertEquals(Arrays.asList("/sim/scanner completed" + REPORT_OF_0131,
                             "/sim/scale completed" + REPORT_OF_0131),
                bus.wire());
    }

    @Test
    void aHundredThousandCharTextIsRefusedWithoutCallingTheLibrary() throws IOException {
        String longText = repeat("\u20ac", 100_000);
        for (ConfigMethod method : REFUSING_AT_ONCE) {
            StandInLog.clear();
            assertEquals(-1, method.call(longText, 0, 0, 0, 0, 0, 0, "b"));
            assertEquals(-1, method.call("a", 0, 0, 0, 0, 0, 0, longText));
            assertEquals(NOT_CALLED_TWICE, StandInLog.events());
        }
    }

    @Test
    void everyIntExtremeReachesItsFieldOrBecomesItsRangesDefault() throws IOException {
        // value1..value6 in the Java order: the top of each range and what an outsider becomes.
        // value3 has no range and passes as it is.
        String[] fields = {"value1", "value2", "value3", "value4", "value5", "value6"};
        int[] upper = {17, 2, Integer.MAX_VALUE, 3, 5, 3};
        int[] fallback = {5, 0, 0, 0, 0, 0};
        for (int argument = 0; argument < 6; ++argument) {
            int bound = upper[argument];
            int[] extremes = {Integer.MIN_VALUE, -1, 0, bound, bound + 1, Integer.MAX_VALUE};
            for (int value : extremes) {
                int[] v = new int[6];
                v[argument] = value;
                StandInLog.clear();
                assertEquals(-1, ReaderSetupKit.DownloadConfigFile(
                                         "a", v[0], v[1], v[2], v[3], v[4], v[5], "b"));
                Map<String, String> call = StandInLog.lastCall();
                boolean inRange = argument == 2 || (value >= 0 && value <= bound);
                int expected = inRange ? value : fallback[argument];
                assertEquals(Integer.toString(expected), call.get(fields[argument]),
                        fields[argument] + " = " + value);
                assertEquals("1", call.get("alwaysOne"));
            }
        }
    }
}
