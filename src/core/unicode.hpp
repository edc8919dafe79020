// UTF-8, UTF-16 and UTF-32: strict decoding with exact error messages, and encoding.
#pragma once

#include <string>
#include <string_view>

#include "core/result.hpp"
#include "core/text.hpp"

namespace telbit {

// Decoders. Messages are the full texts ("Invalid UTF-8 bytes: ...", "UTF-16 requires ...").
[[nodiscard]] Result<DecodedText> decode_utf8(ByteSpan data);
[[nodiscard]] Result<DecodedText> decode_utf16(ByteSpan data);  // BOM detection, big-endian default
[[nodiscard]] Result<DecodedText> decode_utf32(ByteSpan data);  // BOM detection, big-endian default
[[nodiscard]] Result<DecodedText> decode_utf16_with_endianness(ByteSpan data, bool little_endian);
[[nodiscard]] Result<DecodedText> decode_utf32_with_endianness(ByteSpan data, bool little_endian);

// Encoders take well-formed UTF-8 (the text as the interpreter hands it over) and cannot fail.
[[nodiscard]] std::string encode_utf16(std::string_view utf8);  // FE FF, then big-endian units
[[nodiscard]] std::string encode_utf32(std::string_view utf8);  // 00 00 FE FF, then big-endian units
[[nodiscard]] std::string encode_utf16be(std::string_view utf8);
[[nodiscard]] std::string encode_utf16le(std::string_view utf8);
[[nodiscard]] std::string encode_utf32be(std::string_view utf8);
[[nodiscard]] std::string encode_utf32le(std::string_view utf8);

}  // namespace telbit
