// The table of encodings: the lookup of a row by its name.
#include "core/codecs.hpp"

#include <algorithm>

namespace telbit {
namespace {

// The rows grouped by the length of their names, so that a lookup compares a name only with
// the names of its own length.
struct ByLength {
    std::array<std::uint8_t, codecs.size()> rows{};                  // row indices, shortest names first
    std::array<std::uint8_t, longest_codec_name + 2> starts{};       // where each length's rows begin
};

constexpr ByLength by_length = [] {
    ByLength index;
    std::size_t next = 0;
    for (std::size_t length = 0; length <= longest_codec_name; ++length) {
        index.starts[length] = static_cast<std::uint8_t>(next);
        for (std::size_t row = 0; row < codecs.size(); ++row) {
            if (codecs[row].name.size() == length) index.rows[next++] = static_cast<std::uint8_t>(row);
        }
    }
    index.starts[longest_codec_name + 1] = static_cast<std::uint8_t>(next);
    return index;
}();

// No two rows share a name.
static_assert([] {
    for (std::size_t i = 0; i < codecs.size(); ++i) {
        for (std::size_t j = i + 1; j < codecs.size(); ++j) {
            if (codecs[i].name == codecs[j].name) return false;
        }
    }
    return true;
}());

}  // namespace

const Codec* find_codec(std::string_view lowered) noexcept {
    if (lowered.size() > longest_codec_name) return nullptr;
    for (std::size_t i = by_length.starts[lowered.size()]; i < by_length.starts[lowered.size() + 1]; ++i) {
        const Codec& codec = codecs[by_length.rows[i]];
        if (codec.name == lowered) return &codec;
    }
    return nullptr;
}

}  // namespace telbit
