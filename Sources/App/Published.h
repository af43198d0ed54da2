// A published property: every assignment first announces the change, then stores the value, also
// when the value does not change. Reading is free.
#pragma once

#include <functional>
#include <utility>

template <typename T>
class Published {
public:
    Published(std::function<void()> willChange, T initial)
        : willChange_(std::move(willChange)), value_(std::move(initial)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    Published& operator=(T value) {
        willChange_();
        value_ = std::move(value);
        return *this;
    }

    const T& operator()() const { return value_; }

private:
    std::function<void()> willChange_;
    T value_;
};
