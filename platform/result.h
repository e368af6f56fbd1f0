#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "platform/system_error.h"

// How the platform layer fails, the one way for all its facilities: a step that gives nothing
// back returns its failure number (0, error::kNone, when it worked); a call that gives a value
// back returns a Result, the value or the failure number. The numbers are those of
// platform/system_error.h, or for sockets the socket library's own codes, so that the code a
// caller reports is the one the system gave.
namespace platform {

template <typename T>
class [[nodiscard]] Result {
  public:
    // A value: the call worked.
    Result(T value) : value_(std::move(value)) {}

    // What a call that failed gives back: why, never error::kNone.
    static Result Failure(uint32_t error) {
        Result result;
        result.error_ = error == error::kNone ? error::kGeneralFailure : error;
        return result;
    }

    bool has_value() const { return value_.has_value(); }
    explicit operator bool() const { return value_.has_value(); }

    // The value; only when there is one.
    T& operator*() & { return *value_; }
    const T& operator*() const& { return *value_; }
    T&& operator*() && { return *std::move(value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

    template <typename U>
    T value_or(U&& otherwise) const& {
        return value_.value_or(std::forward<U>(otherwise));
    }
    template <typename U>
    T value_or(U&& otherwise) && {
        return std::move(value_).value_or(std::forward<U>(otherwise));
    }

    // Why the call failed; error::kNone when it worked.
    uint32_t Error() const { return error_; }

  private:
    Result() = default;
    std::optional<T> value_;
    uint32_t error_ = error::kNone;
};

}  // namespace platform
