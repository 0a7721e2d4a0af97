package com.quendal.javapos.readersetupkit;

/**
 * Configuration of the maker's scanners through the maker's configuration library
 * ({@code ReaderSetupKit.dll} on Windows, {@code libReaderSetupKit.so} elsewhere), backed by the
 * {@code setuplink} library. Each call loads the configuration library by its bare file name,
 * hands it one request, frees it again and returns the library's result code.
 *
 * <p>The bare name is looked up by the system's own search, not in {@code java.library.path}: on
 * Windows in the folder of the application's program ({@code java.exe}), the system folders, the
 * current folder and the folders of {@code PATH}; on Linux in the folders of
 * {@code LD_LIBRARY_PATH} and those the dynamic linker knows ({@code /etc/ld.so.conf}, such as
 * {@code /usr/local/lib} after {@code ldconfig}). The configuration library must be in one of
 * them, and every folder searched must be writable by administrators only: a library put in any
 * of them under that name runs with the application's rights.
 *
 * <p>All three methods take the same arguments:
 *
 * <ul>
 *   <li>{@code text1}: the path of the file that is downloaded, flashed or uploaded; required.
 *   <li>{@code value1} to {@code value6}: option codes that the configuration library reads; this
 *       class only keeps five of them within their ranges:
 *       <ul>
 *         <li>{@code value1}: 0 to 17; any other value is sent as 5.
 *         <li>{@code value2}: 0 to 2; any other value is sent as 0.
 *         <li>{@code value3}: any value, sent as it is.
 *         <li>{@code value4}: 0 to 3; any other value is sent as 0.
 *         <li>{@code value5}: 0 to 5; any other value is sent as 0.
 *         <li>{@code value6}: 0 to 3; any other value is sent as 0.
 *       </ul>
 *   <li>{@code text2}: a further text for the configuration library; null sends an empty text.
 * </ul>
 *
 * <p>The result is the code the configuration library reports, or -1 when the request could not
 * be made: the configuration library or its function is missing, {@code text1} is null, or a text
 * is longer than 1254 UTF-16 characters. A -1 reported by the library itself looks the same.
 * Values outside their ranges are never refused. A method blocks the calling thread for as long
 * as the configuration library works, which this class does not bound (a flash 10 s more); the
 * methods keep no state and may be called from any thread.
 */
public class ReaderSetupKit {
    static {
        System.loadLibrary("setuplink");
    }

    /**
     * Downloads the configuration file {@code text1} to the scanner.
     *
     * @return the configuration library's result code, or -1 (see the class description)
     */
    public static native int DownloadConfigFile(String text1, int value1, int value2, int value3,
            int value4, int value5, int value6, String text2);

    /**
     * Flashes the file {@code text1} into the scanner, then waits 10 seconds more. The wait
     * follows every flash that reached the configuration library, whatever its result; a request
     * that could not be made returns at once.
     *
     * @return the configuration library's result code, or -1 (see the class description)
     */
    public static native int FlashScannerFile(String text1, int value1, int value2, int value3,
            int value4, int value5, int value6, String text2);

    /**
     * Uploads the scanner's configuration into the file {@code text1}.
     *
     * @return the configuration library's result code, or -1 (see the class description)
     */
    public static native int UploadConfigFile(String text1, int value1, int value2, int value3,
            int value4, int value5, int value6, String text2);
}
