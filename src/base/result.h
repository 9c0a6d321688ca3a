// A value or the failure that replaced it; core functions return failures instead of throwing.
#pragma once

#include <concepts>
#include <string>
#include <utility>
#include <variant>

#include "base/panic.h"

namespace quarn {

template <typename T, typename E = std::string>
class Result {
  public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    static Result err(E error) { return Result(std::in_place_index<1>, std::move(error)); }

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return checked_value(); }
    const T& value() const& { return const_cast<Result*>(this)->checked_value(); }
    T&& value() && { return std::move(checked_value()); }
    T* operator->() { return &checked_value(); }
    const T* operator->() const { return &const_cast<Result*>(this)->checked_value(); }
    T& operator*() { return checked_value(); }
    const T& operator*() const { return const_cast<Result*>(this)->checked_value(); }

    const E& error() const& {
        if (ok()) panic("the error of a Result that holds a value was read");
        return std::get<1>(v_);
    }
    E&& error() && {
        if (ok()) panic("the error of a Result that holds a value was read");
        return std::get<1>(std::move(v_));
    }

  private:
    template <size_t I, typename U>
    Result(std::in_place_index_t<I> tag, U&& u) : v_(tag, std::forward<U>(u)) {}
    T& checked_value() {
        if (!ok()) panic("the value of a Result that holds an error was read");
        return std::get<0>(v_);
    }

    std::variant<T, E> v_;
};

// Builds the error side of any Result: `return quarn::Err("message");`
template <typename E>
struct Err {
    // A constructor rather than aggregate initialisation: `Err(x)` must also compile where
    // parenthesised aggregate initialisation is not available (clang 14).
    template <typename U>
    requires std::constructible_from<E, U&&>
    explicit(false) Err(U&& value) : error(std::forward<U>(value)) {}

    E error;
    template <typename T, typename E2>
    operator Result<T, E2>() && {
        return Result<T, E2>::err(E2(std::move(error)));
    }
};
template <typename E>
Err(E) -> Err<E>;
Err(const char*)->Err<std::string>;

}  // namespace quarn
