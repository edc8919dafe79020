// What both fuzz targets check with: an abort the fuzzer reports, and the characters of a
// decoded text whatever form it came back in.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text.hpp"
#include "core/utf8.hpp"

namespace telbit::fuzz {

inline void require(bool condition) {
    if (!condition) std::abort();
}

inline std::u32string characters(const DecodedText& text) {
    if (text.form == TextForm::utf32) return {text.code_points.begin(), text.code_points.end()};
    if (text.form != TextForm::utf8) return {text.bytes.begin(), text.bytes.end()};
    std::u32string out;
    Utf8Reader reader(std::string_view(reinterpret_cast<const char*>(text.bytes.data()), text.bytes.size()));
    std::size_t length = 0;
    while (!reader.done()) out.push_back(reader.next(length));
    return out;
}

}  // namespace telbit::fuzz
