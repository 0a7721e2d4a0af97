package com.quendal.javapos.usb;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** The scanner library loaded by a real JVM through its Java class, on the simulated bus. */
class QuenHIDOperTest {
    private final QuenHIDOper scanner = new QuenHIDOper();
    private final SimScenario bus = new SimScenario();

    @AfterEach
    void close() {
        assertTrue(scanner.Close());
        scanner.SetMode(false);
    }

    @Test
    void everyNativeMethodBindsAndFailsQuietlyWithoutADevice() throws Exception {
        bus.set();
        assertFalse(scanner.IsDeviceExist());
        assertFalse(scanner.Open());
        assertFalse(scanner.OpenScale());
        assertFalse(scanner.write(new char[] {'A'}));
        assertNull(scanner.read());
        assertTrue(scanner.SetMode(true));
        assertFalse(scanner.SetMode(false));
        assertTrue(scanner.Close());
        assertEquals("closed 0", QuenHIDOper.DeviceState());
    }

    @Test
    void theStateSaysWhyNothingCanBeRead() throws Exception {
        bus.set(SimScenario.scanner("/sim/scanner", "0x4A00") + " open=denied");
        assertTrue(scanner.Open());
        assertEquals("denied 0: give this user access to /sim/scanner", QuenHIDOper.DeviceState());
        assertNull(scanner.read());
        assertTrue(scanner.Close());
        assertEquals("closed 0", QuenHIDOper.DeviceState());
    }

    @Test
    void writeSendsTheLowByteOfEachCharAfterReportIdZero() throws Exception {
        bus.set(SimScenario.scanner("/sim/scanner", "0x4A00"));
        assertTrue(scanner.Open());
        assertTrue(scanner.write(new char[] {'\u0041', '\u0142'}));
        assertTrue(scanner.write(new char[0]));
        List<String> wire = bus.wire();
        assertEquals(2, wire.size());
        assertTrue(wire.get(0).startsWith("/sim/scanner completed 00 41 42 00 00"), wire.get(0));
        assertEquals(3 * 64, wire.get(0).length() - "/sim/scanner completed".length());
        assertTrue(wire.get(1).matches("/sim/scanner completed( 00){64}"), wire.get(1));
    }

    @Test
    void writeOfNullOrAHugeArrayDoesNotHurtTheJvm() throws Exception {
        bus.set(SimScenario.scanner("/sim/scanner", "0x4A00"));
        assertTrue(scanner.Open());
        assertFalse(scanner.write(null));
        char[] huge = new char[100000];
        java.util.Arrays.fill(huge, '\u0131');
        assertTrue(scanner.write(huge));
        List<String> wire = bus.wire();
        assertEquals(1, wire.size());
        assertTrue(wire.get(0).endsWith(" 31 31"), wire.get(0));
    }

    @Test
    void readSignExtendsBytesAndNegativeLengthGivesAnEmptyArray() throws Exception {
        bus.set(SimScenario.scanner("/sim/scanner", "0x4A00"),
                "report /sim/scanner at=0 00 07 00 00 00 00 b5 41",
                "report /sim/scanner at=1 00 ff 00 00 00 00 99");
        assertTrue(scanner.Open());
        assertArrayEquals(new char[] {0, 7, 0, 0, 0, 0, '\uFFB5', 'A'}, scanner.read());
        char[] empty = scanner.read();
        assertNotNull(empty);
        assertEquals(0, empty.length);
        assertNull(scanner.read());
    }

    @Test
    void segmentedModeJoinsAMessage() throws Exception {
        bus.set(SimScenario.scanner("/sim/scanner", "0x4A00"),
                "report /sim/scanner at=0 00 07 00 00 00 01 61 62",
                "report /sim/scanner at=5 00 07 00 00 00 00 63 64");
        assertTrue(scanner.SetMode(true));
        assertTrue(scanner.Open());
        assertArrayEquals("abcd".toCharArray(), scanner.read());
    }

    @Test
    void openFallsBackToTheSecondScannerUsageAndOpenScaleFindsTheScale() throws Exception {
        bus.set(SimScenario.scanner("/sim/alternate", "0x4B00"), SimScenario.scale("/sim/scale"));
        assertTrue(scanner.IsDeviceExist());
        assertTrue(scanner.Open());
        assertTrue(scanner.write(new char[] {'s'}));
        assertTrue(scanner.OpenScale());
        assertTrue(scanner.write(new char[] {'w'}));
        List<String> wire = bus.wire();
        assertTrue(wire.get(0).startsWith("/sim/alternate completed 00 73"), wire.get(0));
        assertTrue(wire.get(1).startsWith("/sim/scale completed 00 77"), wire.get(1));
    }

    @Test
    void readAfterCloseIsNull() throws Exception {
        bus.set(SimScenario.scanner("/sim/scanner", "0x4A00"),
                "report /sim/scanner at=0 00 01 00");
        assertTrue(scanner.Open());
        assertTrue(scanner.Close());
        assertNull(scanner.read());
    }
}
