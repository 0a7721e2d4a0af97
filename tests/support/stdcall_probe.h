// x86 Windows only: calls a function the way the JVM calls a native method, pushing the arguments
// itself, and tells whether the callee removed them as __stdcall requires. A typed call cannot
// tell: the compiler restores the stack pointer after it whatever the callee did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#if defined(_WIN32) && defined(__i386__) && defined(__GNUC__)
#define QUEN_STDCALL_PROBE 1

// Pushes `count` 32-bit words from `arguments` (the first argument on top), calls `function`,
// stores what it returned in EAX in `*result` (when not null) and returns how far the stack
// pointer ended up from where it was before the pushes: 0 when the callee removed exactly its
// arguments.
extern "C" std::int32_t quen_stack_drift(const void* function, std::uint32_t count,
                                         const std::uint32_t* arguments, std::uint32_t* result);

namespace quen::test {

// An argument as the 32-bit word the caller pushes for it.
template <typename T>
std::uint32_t StackWord(T value) {
    static_assert(sizeof(T) <= sizeof(std::uint32_t), "one stack word per argument");
    if constexpr (std::is_null_pointer_v<T>) {
        return 0;
    } else if constexpr (std::is_pointer_v<T>) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(value));
    } else {
        return static_cast<std::uint32_t>(value);
    }
}

}  // namespace quen::test
#endif
