import com.quendal.javapos.readersetupkit.ReaderSetupKit;
import com.quendal.javapos.usb.QuenHIDOper;
import com.quendal.javapos.usb.QuenHIDScaleOper;
import java.util.Objects;

/**
 * Run by the package tests in a JVM started with no -Djava.library.path, on a machine with none
 * of the maker's devices and where the package's folder is the only one holding the libraries:
 * calls every native method of the three classes once and checks that each fails quietly.
 * Exits 1 after the first call that returned something else.
 */
public final class PackagedLibraries {
    private static void expect(String call, Object got, Object wanted) {
        if (!Objects.equals(got, wanted)) {
            System.out.println(call + " returned " + got + ", expected " + wanted);
            System.exit(1);
        }
    }

    public static void main(String[] args) {
        QuenHIDOper scanner = new QuenHIDOper();
        expect("QuenHIDOper.IsDeviceExist", scanner.IsDeviceExist(), false);
        expect("QuenHIDOper.Open", scanner.Open(), false);
        expect("QuenHIDOper.OpenScale", scanner.OpenScale(), false);
        expect("QuenHIDOper.write", scanner.write(new char[] {'A'}), false);
        expect("QuenHIDOper.read", scanner.read(), null);
        expect("QuenHIDOper.SetMode", scanner.SetMode(true), true);
        expect("QuenHIDOper.Close", scanner.Close(), true);

        QuenHIDScaleOper scale = new QuenHIDScaleOper();
        expect("QuenHIDScaleOper.IsDeviceExist", scale.IsDeviceExist(), false);
        expect("QuenHIDScaleOper.Open", scale.Open(), false);
        expect("QuenHIDScaleOper.write", scale.write(new char[] {'A'}), false);
        expect("QuenHIDScaleOper.read", scale.read(), null);
        expect("QuenHIDScaleOper.Close", scale.Close(), true);

        // No configuration library is installed: each request is refused with -1 at once.
        expect("ReaderSetupKit.DownloadConfigFile",
                ReaderSetupKit.DownloadConfigFile("a.cfg", 0, 0, 0, 0, 0, 0, null), -1);
        expect("ReaderSetupKit.UploadConfigFile",
                ReaderSetupKit.UploadConfigFile("a.cfg", 0, 0, 0, 0, 0, 0, null), -1);
        expect("ReaderSetupKit.FlashScannerFile",
                ReaderSetupKit.FlashScannerFile("a.bin", 0, 0, 0, 0, 0, 0, null), -1);
        System.out.println("every native method answered");
    }
}
