// Without libFuzzer (GCC builds), a fuzz target runs on a fixed number of pseudo-random inputs
// from a fixed seed, so every ordinary test run exercises it and a failure is repeatable.
// Usage: target [runs] [seed]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    const long runs = argc > 1 ? std::atol(argv[1]) : 2000;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 20261207;
    std::mt19937_64 random(seed);
    std::vector<std::uint8_t> input;
    for (long run = 0; run < runs; ++run) {
        input.resize(random() % 4096);
        for (auto& b : input)
            b = static_cast<std::uint8_t>(random());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld inputs, seed %lu: no fault\n", runs, seed);
    return 0;
}
