#include "config/module_loader.h"

#include <windows.h>

namespace quen::config {

const char kConfigLibraryFile[] = "ReaderSetupKit.dll";

namespace {

class Win32Modules final : public ModuleServices {
  public:
    Handle Load(const char* fileName) override { return LoadLibraryA(fileName); }

    Symbol Find(Handle module, const char* name) override {
        return reinterpret_cast<Symbol>(GetProcAddress(static_cast<HMODULE>(module), name));
    }

    void Free(Handle module) override { FreeLibrary(static_cast<HMODULE>(module)); }

    void SleepMs(unsigned milliseconds) override { Sleep(milliseconds); }
};

Win32Modules systemModules;

}  // namespace

ModuleServices& SystemModules() {
    return systemModules;
}

}  // namespace quen::config
