// Unicode encoding forms (placeholder until implemented).
#include "core/unicode.hpp"

namespace telbit {
namespace {
Error pending() { return not_implemented("Unicode text is not built yet"); }
}  // namespace
Result<DecodedText> decode_utf8(ByteSpan) { return pending(); }
Result<DecodedText> decode_utf16(ByteSpan) { return pending(); }
Result<DecodedText> decode_utf32(ByteSpan) { return pending(); }
Result<DecodedText> decode_utf16_with_endianness(ByteSpan, bool) { return pending(); }
Result<DecodedText> decode_utf32_with_endianness(ByteSpan, bool) { return pending(); }
std::string encode_utf16(std::string_view) { return {}; }
std::string encode_utf32(std::string_view) { return {}; }
std::string encode_utf16be(std::string_view) { return {}; }
std::string encode_utf16le(std::string_view) { return {}; }
std::string encode_utf32be(std::string_view) { return {}; }
std::string encode_utf32le(std::string_view) { return {}; }
}  // namespace telbit
