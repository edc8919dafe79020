// The few compiler-specific spellings the code relies on. Each has a branch in plain C++20
// that MSVC and any other compiler build; the extensions are only ever a faster or a more
// precise way of saying the same thing.
#pragma once

#include <cstdint>

// GCC and clang (clang-cl included) share the GNU attributes and builtins.
#if defined(__GNUC__) || defined(__clang__)
#define TELBIT_GNU 1
#else
#define TELBIT_GNU 0
#endif

// Keeps a rarely taken path out of line, so that its callers' fast paths stay small. It goes
// after any [[...]] attributes of the declaration: clang refuses them after a GNU attribute.
#if TELBIT_GNU
#define TELBIT_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define TELBIT_NOINLINE __declspec(noinline)
#else
#define TELBIT_NOINLINE
#endif

// For the few small helpers of the walks' inner loops that a compiler would otherwise keep
// out of line, at the cost of a call per field.
#if TELBIT_GNU
#define TELBIT_ALWAYS_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define TELBIT_ALWAYS_INLINE __forceinline
#else
#define TELBIT_ALWAYS_INLINE inline
#endif

// binary16 in hardware: x86's F16C instructions, enabled function by function so that the
// rest of the build stays at the baseline instruction set, and chosen at run time. Elsewhere
// (MSVC, ARM) only the portable conversion is built.
#if TELBIT_GNU && (defined(__x86_64__) || defined(__i386__))
#define TELBIT_HAVE_F16C 1
#define TELBIT_TARGET_F16C __attribute__((target("f16c")))
#else
#define TELBIT_HAVE_F16C 0
#endif

namespace telbit {

[[nodiscard]] constexpr std::uint64_t byteswap64_portable(std::uint64_t value) noexcept {
    value = ((value >> 8) & 0x00FF00FF00FF00FFULL) | ((value & 0x00FF00FF00FF00FFULL) << 8);
    value = ((value >> 16) & 0x0000FFFF0000FFFFULL) | ((value & 0x0000FFFF0000FFFFULL) << 16);
    return (value >> 32) | (value << 32);
}

[[nodiscard]] constexpr std::uint64_t byteswap64(std::uint64_t value) noexcept {
#if TELBIT_GNU
    return __builtin_bswap64(value);
#else
    return byteswap64_portable(value);
#endif
}

// Whichever branch a compiler takes, the other one is held to the same answer.
static_assert(byteswap64(0x0123456789ABCDEFULL) == 0xEFCDAB8967452301ULL);
static_assert(byteswap64_portable(0x0123456789ABCDEFULL) == 0xEFCDAB8967452301ULL);

}  // namespace telbit
