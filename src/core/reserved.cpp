// Float formats whose names are reserved but which are not converted.
#include "core/reserved.hpp"

#include <string>

namespace telbit {

Error reserved_decode_error(std::string_view label) {
    std::string message(label);
    message += " format not yet implemented";
    return not_implemented(std::move(message));
}

Error reserved_encode_error(std::string_view label) {
    std::string message(label);
    message += " encoding not yet implemented";
    return not_implemented(std::move(message));
}

}  // namespace telbit
