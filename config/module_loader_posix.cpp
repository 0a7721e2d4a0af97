#include "config/module_loader.h"

#include <dlfcn.h>

#include <cerrno>
#include <time.h>

namespace quen::config {

const char kConfigLibraryFile[] = "libReaderSetupKit.so";

namespace {

class PosixModules final : public ModuleServices {
  public:
    Handle Load(const char* fileName) override { return dlopen(fileName, RTLD_NOW); }

    Symbol Find(Handle module, const char* name) override {
        return reinterpret_cast<Symbol>(dlsym(module, name));
    }

    void Free(Handle module) override { dlclose(module); }

    void SleepMs(unsigned milliseconds) override {
        timespec rest{static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000L};
        // A signal handled on this thread cuts the sleep short; sleep out what is left.
        while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
        }
    }
};

PosixModules systemModules;

}  // namespace

ModuleServices& SystemModules() {
    return systemModules;
}

}  // namespace quen::config
