// The scenario reader against any text: it may refuse a line, never crash or hang.
#include <cstdint>
#include <string>

#include "sim/sim_scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    quen::sim::ApplyScenario(std::string(reinterpret_cast<const char*>(data), size), &error);
    return 0;
}
