// Result<T>: a value or an error, so that failures travel as values until the Python boundary.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <new>

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
    Result(T value) : has_value_(true), value_(std::move(value)) {}  // NOLINT: implicit by design
    Result(Error error) : has_value_(false), error_(std::move(error)) {}  // NOLINT
    Result(Result&& other) noexcept(std::is_nothrow_move_constructible_v<T>) : has_value_(other.has_value_) {
        if (has_value_) {
            new (&value_) T(std::move(other.value_));
        } else {
            new (&error_) Error(std::move(other.error_));
        }
    }
    Result(const Result& other) : has_value_(other.has_value_) {
        if (has_value_) {
            new (&value_) T(other.value_);
        } else {
            new (&error_) Error(other.error_);
        }
    }
    Result& operator=(const Result&) = delete;
    Result& operator=(Result&&) = delete;
    ~Result() {
        if (has_value_) {
            value_.~T();
        } else {
            error_.~Error();
        }
    }

    [[nodiscard]] bool ok() const noexcept { return has_value_; }
    explicit operator bool() const noexcept { return has_value_; }

    [[nodiscard]] T& value() & { return value_; }
    [[nodiscard]] const T& value() const& { return value_; }
    [[nodiscard]] T&& value() && { return std::move(value_); }
    [[nodiscard]] T& operator*() & { return value_; }
    [[nodiscard]] const T& operator*() const& { return value_; }
    [[nodiscard]] T* operator->() { return &value_; }
    [[nodiscard]] const T* operator->() const { return &value_; }

    [[nodiscard]] Error& error() & { return error_; }
    [[nodiscard]] const Error& error() const& { return error_; }
    [[nodiscard]] Error&& error() && { return std::move(error_); }

private:
    // A plain tagged union rather than std::variant: the compiler then keeps small results
    // in registers instead of spilling and reloading them.
    bool has_value_;
    union {
        T value_;
        Error error_;
    };
};

// Success carries nothing.
struct Ok {};
using Status = Result<Ok>;
inline constexpr Ok ok_status{};

}  // namespace telbit
