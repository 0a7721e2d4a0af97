package com.quendal.javapos.usb;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.util.Collections;

/**
 * A JVM's end of device_controller (tests/kernel/device_controller.cpp), the program beside it in
 * the kernel VM that plugs uhid devices in, sends their input reports, tells what output reports
 * reached them and unplugs them. Reports and descriptors travel as hex. One connection; every
 * device plugged through it is unplugged when it closes. One thread at a time.
 */
final class DeviceControllerLink implements AutoCloseable {
    private final Socket socket;
    private final BufferedReader replies;
    private final OutputStream requests;

    DeviceControllerLink(int port) throws IOException {
        socket = new Socket("127.0.0.1", port);
        replies = new BufferedReader(
                new InputStreamReader(socket.getInputStream(), StandardCharsets.US_ASCII));
        requests = socket.getOutputStream();
    }

    /** One request; the answer line, null when the controller has gone. */
    private String request(String line) throws IOException {
        requests.write((line + "\n").getBytes(StandardCharsets.US_ASCII));
        return replies.readLine();
    }

    /** One request; its answer after "ok". */
    String ask(String request) throws IOException {
        String reply = request(request);
        if (reply == null || !reply.startsWith("ok")) {
            throw new IOException(request + ": " + reply);
        }
        return reply.substring(2).trim();
    }

    /** Plugs a uhid device in and waits for its node; its id. */
    String plug(int vendor, int product, String descriptor, String name) throws IOException {
        return ask(String.format("plug %04X %04X %s %s", vendor, product, descriptor, name));
    }

    /** Has the device send an input report. */
    void send(String device, String report) throws IOException {
        ask("send " + device + " " + report);
    }

    /** The oldest output report the device got within timeoutMs, or "none". */
    String output(String device, int timeoutMs) throws IOException {
        String reply = request("output " + device + " " + timeoutMs);
        return reply != null && reply.startsWith("ok ") ? reply.substring(3) : "none";
    }

    /** The hex of `bytes` zero bytes. */
    static String zeros(int bytes) {
        return String.join("", Collections.nCopies(bytes, "00"));
    }

    // The descriptors and reports of tests/support/report_descriptors.h and
    // tests/kernel/device_reports.h, in hex.
    /** MakerScannerDescriptor(): usage 0x4A00, 64-byte input and output reports. */
    static final String SCANNER = "0645FF0A004AA10115002600FF750895400901810209029102C0";

    /** MakerDescriptor(usage, inputBytes, outputBytes). */
    static String maker(int usage, int inputBytes, int outputBytes) {
        return "0645FF0A" + le16(usage) + "A10115002600FF750896" + le16(inputBytes) + "0901810296"
                + le16(outputBytes) + "09029102C0";
    }

    private static String le16(int value) {
        return String.format("%02X%02X", value & 0xFF, value >> 8);
    }

    /** ScanReport(data, continuation): L, three header bytes, the continuation, the data. */
    static String scan(String data, int continuation) {
        StringBuilder hex = new StringBuilder(
                String.format("%02X000000%02X", 5 + data.length(), continuation));
        for (char c : data.toCharArray()) {
            hex.append(String.format("%02X", (int) c));
        }
        return hex + zeros(59 - data.length());
    }

    @Override
    public void close() throws IOException {
        socket.close();
    }
}
