#pragma once
// Failures are values: every fallible operation returns its result or one message.
#include <expected>
#include <string>
#include <utility>

template <class T>
using Result = std::expected<T, std::string>;
using Status = Result<void>;

inline std::unexpected<std::string> fail(std::string message) {
    return std::unexpected(std::move(message));
}

// Return the message of a failed operation unchanged.
#define TRY(expr)                                                        \
    do {                                                                 \
        if (auto tarn_try_ = (expr); !tarn_try_)                         \
            return std::unexpected(std::move(tarn_try_).error());        \
    } while (0)

// Bind the value of a successful operation, or return its message unchanged.
#define TRY_LET(name, expr)                                              \
    auto name##_result_ = (expr);                                        \
    if (!name##_result_)                                                 \
        return std::unexpected(std::move(name##_result_).error());       \
    auto name = std::move(*name##_result_)
