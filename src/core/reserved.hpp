// Float formats whose names are reserved but which are not converted.
#pragma once

#include <string_view>

#include "core/result.hpp"

namespace telbit {

// "{label} format not yet implemented", the error of decoding the format.
[[nodiscard]] Error reserved_decode_error(std::string_view label);
// "{label} encoding not yet implemented", the error of encoding it.
[[nodiscard]] Error reserved_encode_error(std::string_view label);

}  // namespace telbit
