#pragma once
// A value or an error message; what the image builder returns instead of
// throwing, so the program and tests can print the message as it is.

#include <string>
#include <utility>
#include <variant>

namespace tamsin::imagebuilder {

struct Error {
    std::string message;
};

template <typename T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }

    // Only valid when ok().
    T& value() { return std::get<T>(state_); }
    const T& value() const { return std::get<T>(state_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }

    // Only valid when !ok().
    const std::string& error() const { return std::get<Error>(state_).message; }

private:
    std::variant<T, Error> state_;
};

} // namespace tamsin::imagebuilder
