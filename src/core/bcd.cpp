// Binary-coded decimal conversions (placeholder until implemented).
#include "core/bcd.hpp"

namespace telbit {
namespace {
Error pending() { return not_implemented("binary-coded decimal is not built yet"); }
}  // namespace
Result<std::int64_t> decode_packed_bcd(std::uint64_t, std::uint32_t, bool) { return pending(); }
Result<std::int64_t> decode_unpacked_bcd(std::uint64_t, std::uint32_t, bool) { return pending(); }
Result<std::uint64_t> encode_packed_bcd(std::int64_t, std::uint32_t, bool) { return pending(); }
Result<std::uint64_t> encode_unpacked_bcd(std::int64_t, std::uint32_t, bool) { return pending(); }
}  // namespace telbit
