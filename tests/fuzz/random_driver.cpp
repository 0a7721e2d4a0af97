// Without libFuzzer (GCC builds), a fuzz target runs on a fixed number of pseudo-random inputs
// from a fixed seed, so every ordinary test run exercises it and a failure is repeatable; then
// on every file of a seed corpus folder, if one is given.
// Usage: target [runs] [seed] [corpus-folder]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    std::vector<std::filesystem::path> corpus;
    if (argc > 3) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[3]))
            corpus.push_back(entry.path());
        std::sort(corpus.begin(), corpus.end());
    }
    for (const auto& file : corpus) {
        std::ifstream in(file, std::ios::binary);
        input.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld inputs, seed %lu, %zu corpus files: no fault\n", runs, seed, corpus.size());
    return 0;
}
