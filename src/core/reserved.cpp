// Float formats whose names are reserved but which are not converted.
#include "core/reserved.hpp"

#include <array>
#include <string>

namespace telbit {
namespace {

constexpr std::array<std::string_view, 11> labels = {
    "IEEE 754-1985 f32", "IEEE 754-1985 f64", "IEEE 754-1985 f80", "MIL-STD-1750A f32", "MIL-STD-1750A f48",
    "DEC f32",           "DEC f64",           "IBM f32",           "IBM f64",           "TI f32",
    "TI f40",
};

std::string label(ReservedFormat format) { return std::string(labels[static_cast<std::size_t>(format)]); }

}  // namespace

Error reserved_decode_error(ReservedFormat format) {
    return not_implemented(label(format) + " format not yet implemented");
}

Error reserved_encode_error(ReservedFormat format) {
    return not_implemented(label(format) + " encoding not yet implemented");
}

}  // namespace telbit
