// The shipped scannerlink.dll and scalelink.dll as the Wine kernel tests load them (beside the
// test program, once for the whole program, as a JVM keeps them), their exports found by their
// JNI names, and the connection to the device controller beside the program in the VM
// (run-wine-in-vm.sh names it in QUEN_DEVICE_CONTROLLER).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

#include "kernel/device_control.h"
#include "support/bridge_calls.h"

namespace quen::test {

inline std::string BesideThisProgram(const char* name) {
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string path(self, length);
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

// The shipped DLLs, loaded for the whole program as a JVM keeps them, and the controller.
struct Shared {
    HMODULE scannerDll = LoadLibraryA(BesideThisProgram("scannerlink.dll").c_str());
    HMODULE scaleDll = LoadLibraryA(BesideThisProgram("scalelink.dll").c_str());
    DeviceControl devices;
    bool connected = false;

    Shared() {
        const char* address = std::getenv("QUEN_DEVICE_CONTROLLER");
        connected = address != nullptr && devices.Connect(address, 30000);
    }
    ~Shared() {
        FreeLibrary(scannerDll);
        FreeLibrary(scaleDll);
    }

    template <typename Function>
    Function Export(HMODULE dll, const char* className, const char* method) {
        const std::string name =
            std::string("Java_com_quendal_javapos_usb_") + className + "_" + method;
        return reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(dll, name.c_str())));
    }
    ScannerExports Scanner() {
        using E = ScannerExports;
        constexpr const char* kClass = "QuenHIDOper";
        return {Export<decltype(E::open)>(scannerDll, kClass, "Open"),
                Export<decltype(E::exists)>(scannerDll, kClass, "IsDeviceExist"),
                Export<decltype(E::openScale)>(scannerDll, kClass, "OpenScale"),
                Export<decltype(E::close)>(scannerDll, kClass, "Close"),
                Export<decltype(E::write)>(scannerDll, kClass, "write"),
                Export<decltype(E::read)>(scannerDll, kClass, "read"),
                Export<decltype(E::setMode)>(scannerDll, kClass, "SetMode"),
                Export<decltype(E::state)>(scannerDll, kClass, "DeviceState")};
    }
    ScaleExports Scale() {
        using E = ScaleExports;
        constexpr const char* kClass = "QuenHIDScaleOper";
        return {Export<decltype(E::open)>(scaleDll, kClass, "Open"),
                Export<decltype(E::exists)>(scaleDll, kClass, "IsDeviceExist"),
                Export<decltype(E::close)>(scaleDll, kClass, "Close"),
                Export<decltype(E::write)>(scaleDll, kClass, "write"),
                Export<decltype(E::read)>(scaleDll, kClass, "read"),
                Export<decltype(E::state)>(scaleDll, kClass, "DeviceState")};
    }
};

inline Shared& Dlls() {
    static Shared shared;
    return shared;
}

}  // namespace quen::test
