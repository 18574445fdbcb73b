#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <utility>

// How an operation that the program asked of the system ended: done, or why not in words for an
// administrator, with the system's code where a caller may branch on it.
class [[nodiscard]] Result {
public:
    static Result Done() { return Result(); }
    static Result Failed(std::string reason, int code = 0) { return Result(std::move(reason), code); }
    // A call the C library answered with errno `error`: its words, after `what` and ": " when given.
    static Result Errno(int error, const std::string& what = {}) {
        const std::string words = std::generic_category().message(error);
        return Failed(what.empty() ? words : what + ": " + words, error);
    }

    explicit operator bool() const { return done_; }
    const std::string& reason() const { return reason_; } // empty when done
    int code() const { return code_; }

private:
    Result() = default;
    Result(std::string reason, int code) : done_(false), reason_(std::move(reason)), code_(code) {}

    bool done_ = true;
    std::string reason_;
    int code_ = 0;
};

// The same for an operation that gives something back: the value when it is done, else the reason.
template <class Value> class [[nodiscard]] ResultWith {
public:
    ResultWith(Value value) : value_(std::move(value)) {}        // NOLINT: done, with its value
    ResultWith(Result failure) : outcome_(std::move(failure)) {} // NOLINT: a failed Result only

    explicit operator bool() const { return value_.has_value(); }
    const Value& operator*() const { return *value_; }
    const Value* operator->() const { return &*value_; }
    Value& operator*() { return *value_; } // a value that cannot be copied is moved out
    Value* operator->() { return &*value_; }
    const Result& result() const { return outcome_; }
    const std::string& reason() const { return outcome_.reason(); }
    int code() const { return outcome_.code(); }

private:
    std::optional<Value> value_;
    Result outcome_ = Result::Done();
};
