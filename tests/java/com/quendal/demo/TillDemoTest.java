package com.quendal.demo;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import org.junit.jupiter.api.Test;

/** The demo's whole flow, as scripts/demo.sh runs it, so that it cannot rot unnoticed. */
class TillDemoTest {
    @Test
    void demoShowsTheScannerTheScaleAndTheConfigurationLibraryAtWork() throws Exception {
        ByteArrayOutputStream printed = new ByteArrayOutputStream();
        new TillDemo(new PrintStream(printed, true, "UTF-8"))
            .run(System.getenv("QUENLINK_SIM_SCENARIO"), System.getenv("QUEN_DOUBLE_DIR"));
        String out = printed.toString(StandardCharsets.UTF_8.name());
        System.out.print(out);
        for (String expected : new String[] {
                 "scanner open: true", "beep command sent: true",
                 "single-report mode: 19 chars, barcode 4006381333931",
                 "single-report mode: 19 chars, barcode 5012345678900",
                 "joined: https://shop.example/receipt/2026-12-07/till-04/000421?total=23.80",
                 "scan after the reseat, no Close or Open: 4012345000017",
                 "scanner state: searching 0)", "scanner state: open 1",
                 "scale open: true", "weight   0.502kg stable", "scale closed: true",
                 ", \"till-04\") = 0",
                 "received function=DownloadConfigFile value1=17 value2=2 value4=3 value3=4711"
                     + " alwaysOne=1 value6=3 value5=5 text1=\"/etc/till/scanner.cfg\""
                     + " text2=\"till-04\"",
                 "received function=FlashScannerFile value1=5 value2=0 value4=0 value3=0"
                     + " alwaysOne=1 value6=0 value5=0 text1=\"/etc/till/firmware.bin\""
                     + " text2=\"\""}) {
            assertTrue(out.contains(expected), "the demo did not print: " + expected);
        }
        assertTrue(out.matches("(?s).*\\.\\.\\. = 0 after 1\\d\\d\\d\\d ms.*"),
            "a flash is followed by the 10 s pause");
    }
}
