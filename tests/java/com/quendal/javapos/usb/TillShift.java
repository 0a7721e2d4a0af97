package com.quendal.javapos.usb;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.stream.Stream;

/**
 * A till's application through a whole shift, soaked: the shipped libraries open the scanner and
 * the scale at once, a thread reads each, another writes a command to the scanner every 100 ms,
 * and the application closes and opens both, switches the reading mode and samples itself when
 * the device controller beside it in the kernel VM says so, while the controller plays the
 * devices from a seed: scans in both modes, reseats, flashes, a device of another vendor. Every
 * read and write is reported to the controller, which keeps the accounting
 * (tests/kernel/shift_run.h has the protocol, shift_account.h what is checked).
 *
 * <p>Usage: TillShift PHASE PORT UDEVADM (as tests/kernel/jvm-user-guest.sh runs it), with
 * -Dquen.shift=SEED,SCANS,RESEATS,FLASHES. Exits 0 when the accounting passed.
 */
public final class TillShift {
    private static final QuenHIDOper scanner = new QuenHIDOper();
    private static final QuenHIDScaleOper scale = new QuenHIDScaleOper();
    private static final ThreadMXBean threadCpu = ManagementFactory.getThreadMXBean();
    private static volatile boolean stop;
    private static volatile int wantedMode;
    /**
     * Scanner reads that returned null at once, after one that returned null, while not closed: a
     * read on a gone device must not (a read whose message was cut short by an unplug may).
     */
    private static volatile long quickNulls;
    /** CPU time the scanner's reads and writes took in the library, ns, by thread. */
    private static volatile long readCpu;
    private static volatile long writeCpu;
    private static OutputStream controller;

    private static synchronized void send(String line) {
        try {
            controller.write((line + "\n").getBytes(StandardCharsets.US_ASCII));
            controller.flush();
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    private static String hex(char[] chars) {
        StringBuilder text = new StringBuilder(chars.length * 2);
        for (char c : chars) {
            text.append(Character.forDigit((c >> 4) & 0xF, 16)).append(Character.forDigit(c & 0xF, 16));
        }
        return text.toString();
    }

    /** A read that returned null at once is a closed device: wait a little, as a till would. */
    private static boolean paced(long startNs) throws InterruptedException {
        if (System.nanoTime() - startNs < 400_000_000L) {
            Thread.sleep(20);
            return false;
        }
        return true;
    }

    private static void readScans() throws InterruptedException {
        int mode = 0;
        boolean lastNull = false;
        scanner.SetMode(false);
        while (!stop) {
            if (wantedMode != mode) {
                mode = wantedMode;
                scanner.SetMode(mode == 1);
                send("mode " + mode);
            }
            long start = System.nanoTime();
            long cpu = threadCpu.getCurrentThreadCpuTime();
            char[] read = scanner.read();
            readCpu += threadCpu.getCurrentThreadCpuTime() - cpu;
            if (read != null) {
                send("scan " + System.nanoTime() + " " + mode + " " + hex(read));
            } else if (!paced(start) && lastNull
                    && !QuenHIDOper.DeviceState().startsWith("closed")) {
                ++quickNulls;
            }
            lastNull = read == null;
        }
    }

    private static void readWeights() throws InterruptedException {
        while (!stop) {
            long start = System.nanoTime();
            char[] read = scale.read();
            if (read != null) {
                send("weight " + System.nanoTime() + " " + hex(read));
            } else {
                paced(start);
            }
        }
    }

    private static void writeCommands() throws InterruptedException {
        char[] command = "C000000".toCharArray();
        for (int seq = 0; !stop; ++seq) {
            for (int i = 6, digits = seq; i > 0; --i, digits /= 10) {
                command[i] = (char) ('0' + digits % 10);
            }
            long start = System.nanoTime();
            long cpu = threadCpu.getCurrentThreadCpuTime();
            boolean taken = scanner.write(command);
            writeCpu += threadCpu.getCurrentThreadCpuTime() - cpu;
            send("wrote " + seq + " " + (taken ? 1 : 0) + " " + start + " " + System.nanoTime());
            Thread.sleep(100);
        }
    }

    private static Thread[] threads = {
        new Thread(() -> run(TillShift::readScans), "scanner reader"),
        new Thread(() -> run(TillShift::readWeights), "scale reader"),
        new Thread(() -> run(TillShift::writeCommands), "scanner writer"),
    };

    private interface Loop {
        void run() throws InterruptedException;
    }

    private static void run(Loop loop) {
        try {
            loop.run();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static void openBoth() throws InterruptedException {
        for (int tries = 0; !(scanner.Open() && scale.Open()) && tries < 100; ++tries) {
            Thread.sleep(500);
        }
    }

    private static String statusField(String status, String name) {
        for (String line : status.split("\n")) {
            if (line.startsWith(name + ":")) {
                return line.substring(name.length() + 1).trim().split("\\s+")[0];
            }
        }
        return "-1";
    }

    /**
     * Descriptors, threads, resident kB, process CPU ns, the scanner's reads' and writes' CPU ns,
     * quick nulls.
     */
    private static String sample() throws IOException {
        long descriptors;
        try (Stream<Path> fds = Files.list(Paths.get("/proc/self/fd"))) {
            descriptors = fds.count();
        }
        String status = new String(Files.readAllBytes(Paths.get("/proc/self/status")),
                StandardCharsets.US_ASCII);
        // Each thread's time on a CPU, in ns: the process's own clock ticks are 10 ms coarse.
        long cpu = 0;
        try (DirectoryStream<Path> tasks = Files.newDirectoryStream(Paths.get("/proc/self/task"))) {
            for (Path task : tasks) {
                String schedstat = new String(Files.readAllBytes(task.resolve("schedstat")),
                        StandardCharsets.US_ASCII);
                cpu += Long.parseLong(schedstat.split(" ")[0]);
            }
        }
        return descriptors + " " + statusField(status, "Threads") + " "
                + statusField(status, "VmRSS") + " " + cpu + " " + (readCpu + writeCpu) + " "
                + quickNulls;
    }

    public static void main(String[] args) throws Exception {
        try (Socket socket = new Socket("127.0.0.1", Integer.parseInt(args[1]))) {
            BufferedReader lines = new BufferedReader(
                    new InputStreamReader(socket.getInputStream(), StandardCharsets.US_ASCII));
            controller = socket.getOutputStream();
            send("shift " + System.getProperty("quen.shift", "1,1000,10,2").replace(',', ' '));
            for (String line; (line = lines.readLine()) != null;) {
                String[] words = line.split(" ", 2);
                switch (words[0]) {
                    case "ready":
                        openBoth();
                        for (Thread thread : threads) {
                            thread.start();
                        }
                        send("go");
                        break;
                    case "ping":
                        send("pong " + System.nanoTime());
                        break;
                    case "mode":
                        wantedMode = Integer.parseInt(words[1]);
                        break;
                    case "cycle": {
                        String state = QuenHIDOper.DeviceState();
                        scanner.Close();
                        scale.Close();
                        openBoth();
                        send("cycled " + state);
                        break;
                    }
                    case "sample":
                        send("sample " + sample());
                        break;
                    case "finish": {
                        stop = true;
                        for (Thread thread : threads) {
                            thread.join();
                        }
                        String state = QuenHIDOper.DeviceState();
                        scanner.Close();
                        scale.Close();
                        send("finished " + state);
                        break;
                    }
                    case "end":
                        System.out.println("TillShift: the accounting says " + words[1]);
                        System.exit(words[1].equals("pass") ? 0 : 1);
                        break;
                    default:
                        break;
                }
            }
        }
        System.out.println("TillShift: the device controller hung up");
        System.exit(1);
    }
}
