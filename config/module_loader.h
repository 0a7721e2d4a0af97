// The platform services a configuration call needs: load a library by its bare file name, look up
// a function in it, free it, and wait. Production calls go to the system; tests put their own
// recording implementation in front of it.
#pragma once

namespace quen::config {

class ModuleServices {
  public:
    using Handle = void*;
    // A function's address as the platform hands it over; cast to the function's own type to call.
    using Symbol = void (*)();

    virtual Handle Load(const char* fileName) = 0;             // null when it cannot be loaded
    virtual Symbol Find(Handle module, const char* name) = 0;  // null when not exported
    virtual void Free(Handle module) = 0;
    virtual void SleepMs(unsigned milliseconds) = 0;

  protected:
    ~ModuleServices() = default;
};

// The configuration library's file name, looked for by the platform's default search.
extern const char kConfigLibraryFile[];

// The system's module loading and waiting (dlopen / LoadLibraryA and their kin).
ModuleServices& SystemModules();

// A library loaded for the length of one scope: freed when the scope ends or on Free().
class LoadedModule {
  public:
    LoadedModule(ModuleServices& services, const char* fileName)
        : services_(services), handle_(services.Load(fileName)) {}
    ~LoadedModule() { Free(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool IsLoaded() const { return handle_ != nullptr; }
    ModuleServices::Symbol Find(const char* name) { return services_.Find(handle_, name); }
    void Free() {
        if (handle_ != nullptr) {
            services_.Free(handle_);
            handle_ = nullptr;
        }
    }

  private:
    ModuleServices& services_;
    ModuleServices::Handle handle_;
};

}  // namespace quen::config
