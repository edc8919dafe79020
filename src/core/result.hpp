// Result<T>: a value or an error, so that failures travel as values until the Python boundary.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace telbit {

// The exception class an error becomes when it reaches the interpreter.
// `raised` means the interpreter's error indicator already holds the exception
// (a failed int conversion, a lone surrogate); it is passed on, never re-created.
enum class ErrorKind : std::uint8_t {
    value_error,
    key_error,
    not_implemented,
    type_error,
    overflow_error,
    memory_error,
    raised,
};

struct Error {
    ErrorKind kind;
    std::string message;
};

[[nodiscard]] inline Error value_error(std::string message) {
    return Error{ErrorKind::value_error, std::move(message)};
}
[[nodiscard]] inline Error key_error(std::string message) {
    return Error{ErrorKind::key_error, std::move(message)};
}
[[nodiscard]] inline Error not_implemented(std::string message) {
    return Error{ErrorKind::not_implemented, std::move(message)};
}
[[nodiscard]] inline Error type_error(std::string message) {
    return Error{ErrorKind::type_error, std::move(message)};
}
[[nodiscard]] inline Error overflow_error(std::string message) {
    return Error{ErrorKind::overflow_error, std::move(message)};
}
[[nodiscard]] inline Error memory_error(std::string message) {
    return Error{ErrorKind::memory_error, std::move(message)};
}
[[nodiscard]] inline Error already_raised() { return Error{ErrorKind::raised, {}}; }

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    [[nodiscard]] bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    [[nodiscard]] T& value() & { return *std::get_if<0>(&state_); }
    [[nodiscard]] const T& value() const& { return *std::get_if<0>(&state_); }
    [[nodiscard]] T&& value() && { return std::move(*std::get_if<0>(&state_)); }
    [[nodiscard]] T& operator*() & { return value(); }
    [[nodiscard]] const T& operator*() const& { return value(); }
    [[nodiscard]] T* operator->() { return std::get_if<0>(&state_); }
    [[nodiscard]] const T* operator->() const { return std::get_if<0>(&state_); }

    [[nodiscard]] Error& error() & { return *std::get_if<1>(&state_); }
    [[nodiscard]] const Error& error() const& { return *std::get_if<1>(&state_); }
    [[nodiscard]] Error&& error() && { return std::move(*std::get_if<1>(&state_)); }

private:
    std::variant<T, Error> state_;
};

// Success carries nothing.
struct Ok {};
using Status = Result<Ok>;
inline constexpr Ok ok_status{};

}  // namespace telbit
