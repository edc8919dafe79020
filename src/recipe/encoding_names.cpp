// The vocabulary of encoding names that recipe entries may use.
#include "recipe/encoding_names.hpp"

#include <array>

namespace telbit {
namespace {

// One row per name, grouped by length so that a lookup compares only names of the right size.
constexpr std::array<EncodingName, 34> names = {{
    {"utf8", Encoding::utf8, true},
    {"utf16", Encoding::utf16, true},
    {"utf32", Encoding::utf32, true},
    {"ti_f32", Encoding::ti_f32, false},
    {"ti_f40", Encoding::ti_f40, false},
    {"latin1", Encoding::latin1, true},
    {"dec_f32", Encoding::dec_f32, false},
    {"dec_f64", Encoding::dec_f64, false},
    {"ibm_f32", Encoding::ibm_f32, false},
    {"ibm_f64", Encoding::ibm_f64, false},
    {"utf16le", Encoding::utf16le, true},
    {"utf16be", Encoding::utf16be, true},
    {"utf32le", Encoding::utf32le, true},
    {"utf32be", Encoding::utf32be, true},
    {"unsigned", Encoding::unsigned_integer, true},
    {"us_ascii", Encoding::us_ascii, true},
    {"packed_bcd", Encoding::packed_bcd, true},
    {"iso_8859_1", Encoding::iso_8859_1, true},
    {"ieee754_f16", Encoding::ieee754_f16, true},
    {"ieee754_f32", Encoding::ieee754_f32, true},
    {"ieee754_f64", Encoding::ieee754_f64, true},
    {"unpacked_bcd", Encoding::unpacked_bcd, true},
    {"ieee754_f128", Encoding::ieee754_f128, false},
    {"windows_1252", Encoding::windows_1252, true},
    {"sign_magnitude", Encoding::sign_magnitude, true},
    {"ones_complement", Encoding::ones_complement, true},
    {"twos_complement", Encoding::twos_complement, true},
    {"ieee754_1985_f32", Encoding::ieee754_1985_f32, false},
    {"ieee754_1985_f64", Encoding::ieee754_1985_f64, false},
    {"ieee754_1985_f80", Encoding::ieee754_1985_f80, false},
    {"packed_bcd_signed", Encoding::packed_bcd_signed, true},
    {"mil_std_1750a_f32", Encoding::mil_std_1750a_f32, false},
    {"mil_std_1750a_f48", Encoding::mil_std_1750a_f48, false},
    {"unpacked_bcd_signed", Encoding::unpacked_bcd_signed, true},
}};

struct LengthGroup {
    std::uint8_t first = 0;
    std::uint8_t count = 0;
};

// For each name length, where its rows start in `names` and how many there are.
constexpr std::array<LengthGroup, longest_encoding_name + 1> groups = [] {
    std::array<LengthGroup, longest_encoding_name + 1> result{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        LengthGroup& group = result[names[i].name.size()];
        if (group.count == 0) group.first = static_cast<std::uint8_t>(i);
        ++group.count;
    }
    return result;
}();

static_assert(names.back().name.size() == longest_encoding_name);
// Rows stand in the order of the enumeration, so an encoding indexes its own row.
static_assert([] {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (static_cast<std::size_t>(names[i].encoding) != i) return false;
    }
    return true;
}());

}  // namespace

std::optional<Encoding> find_encoding(std::string_view lowered) noexcept {
    if (lowered.size() > longest_encoding_name) return std::nullopt;
    const LengthGroup group = groups[lowered.size()];
    for (std::size_t i = group.first; i < std::size_t{group.first} + group.count; ++i) {
        if (names[i].name == lowered) return names[i].encoding;
    }
    return std::nullopt;
}

bool is_packable(Encoding encoding) noexcept { return names[static_cast<std::size_t>(encoding)].packable; }

}  // namespace telbit
