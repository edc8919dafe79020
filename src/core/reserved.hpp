// Float formats whose names are reserved but which are not converted.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/result.hpp"

namespace telbit {

enum class ReservedFormat : std::uint8_t {
    ieee754_1985_f32,
    ieee754_1985_f64,
    ieee754_1985_f80,
    mil_std_1750a_f32,
    mil_std_1750a_f48,
    dec_f32,
    dec_f64,
    ibm_f32,
    ibm_f64,
    ti_f32,
    ti_f40,
};

// "{label} format not yet implemented", the error of decoding the format.
[[nodiscard]] Error reserved_decode_error(ReservedFormat format);
// "{label} encoding not yet implemented", the error of encoding it.
[[nodiscard]] Error reserved_encode_error(ReservedFormat format);

}  // namespace telbit
