// What the native checks and the fuzz targets share: how a failure is counted and told, a
// reproducible source of inputs, and the characters of a decoded text read without the core.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text.hpp"
#include "reference_utf8.hpp"

namespace check {

using telbit::ByteSpan;

inline std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

inline std::string hex(ByteSpan bytes) {
    std::string out;
    char text[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(text, sizeof text, "%02X ", byte);
        out += text;
    }
    return out.empty() ? "(empty)" : out;
}

inline ByteSpan span_of(std::string_view bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// Every failure counts; only the first few are told, so that a wide break shows its extent
// without burying its first instance. Told on stderr, which is unbuffered: a fuzz target
// aborts right after.
inline int failures = 0;

inline void fail(std::string_view what) {
    if (++failures <= 30) std::fprintf(stderr, "FAIL %.*s\n", static_cast<int>(what.size()), what.data());
}
inline void fail(std::string_view what, ByteSpan input) { fail(std::string(what) + "; input " + hex(input)); }

// The condition, so that a caller can stop where going on would read what is not there.
inline bool require(bool condition, std::string_view what) {
    if (!condition) fail(what);
    return condition;
}
inline bool require(bool condition, std::string_view what, ByteSpan input) {
    if (!condition) fail(what, input);
    return condition;
}

// A check program's exit status.
inline int verdict() {
    if (failures == 0) return EXIT_SUCCESS;
    std::fprintf(stderr, "%d failures\n", failures);
    return EXIT_FAILURE;
}

// A fuzz target's: the fuzzer notices only a crash, so an input that broke anything aborts
// once every check of it has had its say.
inline int fuzz_verdict() {
    if (failures != 0) std::abort();
    return 0;
}

// splitmix64: every bit usable, and the same sequence from every standard library (whose
// distributions differ), so that a failing round can be replayed anywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t operator()() {
        std::uint64_t z = state_ += 0x9E3779B97F4A7C15ULL;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state_;
};

// The characters of a decoded text, whatever form the decoder chose, read by the reference;
// on the way, that the form keeps its promise to the boundary, which builds a str from it
// without looking again.
inline std::u32string characters(const telbit::DecodedText& text) {
    using telbit::TextForm;
    switch (text.form) {
        case TextForm::ascii:
            for (const std::uint8_t byte : text.bytes) {
                if (byte >= 0x80) fail("ascii form holds a byte above 7F", text.bytes);
            }
            return {text.bytes.begin(), text.bytes.end()};
        case TextForm::latin1: return {text.bytes.begin(), text.bytes.end()};
        case TextForm::utf8:
            if (!reference::utf8_verdict(text.bytes).valid) {
                fail("utf8 form holds ill-formed UTF-8", text.bytes);
                return {};
            }
            return reference::code_points(text.bytes);
        case TextForm::utf32:
            for (const char32_t c : text.code_points) {
                if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) fail("utf32 form holds a non-scalar value");
            }
            return {text.code_points.begin(), text.code_points.end()};
    }
    return {};
}

}  // namespace check
