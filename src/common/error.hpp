#pragma once
// Failures are values: an Error carries a chain of messages, outermost first,
// and Result<T> holds either a value or an Error. Nothing here throws.

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

namespace tarvel {

class Error {
public:
    explicit Error(std::string message) { chain_.push_back(std::move(message)); }

    template <typename... Args>
    static Error format(fmt::format_string<Args...> pattern, Args&&... args) {
        return Error(fmt::format(pattern, std::forward<Args>(args)...));
    }

    // Wraps this error as the cause of a new outer message.
    [[nodiscard]] Error context(std::string outer) && {
        chain_.insert(chain_.begin(), std::move(outer));
        return std::move(*this);
    }
    template <typename... Args>
    [[nodiscard]] Error context(fmt::format_string<Args...> pattern, Args&&... args) && {
        return std::move(*this).context(fmt::format(pattern, std::forward<Args>(args)...));
    }

    const std::string& message() const { return chain_.front(); }
    const std::vector<std::string>& chain() const { return chain_; }

    // The whole chain, outermost first, joined by ": ".
    std::string to_string() const {
        std::string out;
        for (size_t i = 0; i < chain_.size(); ++i) {
            if (i) out += ": ";
            out += chain_[i];
        }
        return out;
    }

private:
    std::vector<std::string> chain_;
};

template <typename T = void>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error error) : v_(std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return check(), std::get<0>(v_); }
    const T& value() const& { return check(), std::get<0>(v_); }
    T&& value() && { return check(), std::get<0>(std::move(v_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const& { return std::get<1>(v_); }
    Error&& error() && { return std::get<1>(std::move(v_)); }

private:
    void check() const {
        if (!ok()) std::abort();  // reading the value of a failed result is a programming error
    }
    std::variant<T, Error> v_;
};

// Success holds no Error, so a successful Status allocates nothing.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const& { return *error_; }
    Error&& error() && { return std::move(*error_); }

private:
    std::optional<Error> error_;
};

using Status = Result<void>;

}  // namespace tarvel

#define TARVEL_CONCAT_INNER(a, b) a##b
#define TARVEL_CONCAT(a, b) TARVEL_CONCAT_INNER(a, b)

// Evaluates a Result; on failure returns its error from the enclosing function.
#define TARVEL_TRY(expr)                                              \
    do {                                                              \
        auto&& tarvel_try_result_ = (expr);                           \
        if (!tarvel_try_result_.ok()) return std::move(tarvel_try_result_).error(); \
    } while (0)

// `TARVEL_TRY_ASSIGN(auto x, f())` declares x from a successful Result or returns its error.
#define TARVEL_TRY_ASSIGN(decl, expr) \
    TARVEL_TRY_ASSIGN_IMPL(TARVEL_CONCAT(tarvel_try_, __LINE__), decl, expr)
#define TARVEL_TRY_ASSIGN_IMPL(tmp, decl, expr)              \
    auto tmp = (expr);                                       \
    if (!tmp.ok()) return std::move(tmp).error();            \
    decl = std::move(tmp).value()
