#pragma once
// A value or an error message, for the core libraries (g++ 12 has no std::expected).
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace orvik {

struct Error {
    std::string message;
    int code = 0;  // errno when a system call failed, else 0
};

template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error error) : v_(std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const std::string& error() const { return std::get<1>(v_).message; }
    int errorNumber() const { return std::get<1>(v_).code; }

  private:
    std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return error_->message; }
    int errorNumber() const { return error_->code; }

  private:
    std::optional<Error> error_;
};

inline Error makeError(std::string message, int code = 0) {
    return Error{std::move(message), code};
}

}  // namespace orvik
