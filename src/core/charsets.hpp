// Single-byte character sets: US-ASCII, ISO-8859-1 and WHATWG windows-1252.
#pragma once

#include <string>
#include <string_view>

#include "core/result.hpp"
#include "core/text.hpp"

namespace telbit {

[[nodiscard]] Result<DecodedText> decode_us_ascii(ByteSpan data);
[[nodiscard]] DecodedText decode_iso_8859_1(ByteSpan data) noexcept;
[[nodiscard]] Result<DecodedText> decode_windows_1252(ByteSpan data);

// Encoders take well-formed UTF-8 and return the encoded bytes.
[[nodiscard]] Result<std::string> encode_us_ascii(std::string_view utf8);
[[nodiscard]] Result<std::string> encode_iso_8859_1(std::string_view utf8);
[[nodiscard]] Result<std::string> encode_windows_1252(std::string_view utf8);

}  // namespace telbit
