// Single-byte character sets (placeholder until implemented).
#include "core/charsets.hpp"

namespace telbit {
namespace {
Error pending() { return not_implemented("single-byte text is not built yet"); }
}  // namespace
Result<DecodedText> decode_us_ascii(ByteSpan) { return pending(); }
DecodedText decode_iso_8859_1(ByteSpan data) noexcept { return DecodedText::view(TextForm::latin1, data); }
Result<DecodedText> decode_windows_1252(ByteSpan) { return pending(); }
Result<std::string> encode_us_ascii(std::string_view) { return pending(); }
Result<std::string> encode_iso_8859_1(std::string_view) { return pending(); }
Result<std::string> encode_windows_1252(std::string_view) { return pending(); }
}  // namespace telbit
