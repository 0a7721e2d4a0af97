package com.quendal.javapos.usb;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** The scale library loaded by a real JVM through its Java class, on the simulated bus. */
class QuenHIDScaleOperTest {
    private final QuenHIDScaleOper scale = new QuenHIDScaleOper();
    private final SimScenario bus = new SimScenario();

    @AfterEach
    void close() {
        assertTrue(scale.Close());
    }

    @Test
    void everyNativeMethodBindsAndAScannerIsNotAScale() throws Exception {
        bus.set(SimScenario.scanner("/sim/scanner", "0x4A00"));
        assertFalse(scale.IsDeviceExist());
        assertFalse(scale.Open());
        assertFalse(scale.write(new char[] {'A'}));
        assertNull(scale.read());
        assertTrue(scale.Close());
    }

    @Test
    void readGivesOneSignExtendedRecordPerReport() throws Exception {
        bus.set(SimScenario.scale("/sim/scale"),
                "report /sim/scale at=0 03 b5 30",
                "report /sim/scale at=10 03 31");
        assertTrue(scale.IsDeviceExist());
        assertTrue(scale.Open());
        char[] block = scale.read();
        assertNotNull(block);
        assertEquals(128, block.length);
        assertEquals('\u0003', block[0]);
        assertEquals('\uFFB5', block[1]);
        assertEquals('\u0030', block[2]);
        assertEquals('\u0000', block[63]);
        assertEquals('\u0031', block[65]);
        assertNull(scale.read());
    }

    @Test
    void writeConvertsCharsAndRefusesNull() throws Exception {
        bus.set(SimScenario.scale("/sim/scale"));
        assertTrue(scale.Open());
        assertTrue(scale.write(new char[] {'\u0041', '\u0142'}));
        assertFalse(scale.write(null));
        List<String> wire = bus.wire();
        assertEquals(1, wire.size());
        assertTrue(wire.get(0).startsWith("/sim/scale completed 00 41 42 00"), wire.get(0));
    }
}
