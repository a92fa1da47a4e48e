#pragma once
// Stream errors. Custom carries the text of the native error value it wraps ("EOF",
// "ssl network error", ...). The text forms are "Blocked", "Overflow", "OutsideBounds"
// and "Custom(" + text + ")".
#include <string>

#include "runtime/Thrown.h"

namespace lumo::io {

class Error : public runtime::Thrown {
public:
    enum class Kind { Blocked = 0, Overflow = 1, OutsideBounds = 2, Custom = 3 };

    static Error Blocked() { return Error(Kind::Blocked, {}); }
    static Error Overflow() { return Error(Kind::Overflow, {}); }
    static Error OutsideBounds() { return Error(Kind::OutsideBounds, {}); }
    static Error Custom(std::string value) { return Error(Kind::Custom, std::move(value)); }

    Kind kind() const { return kind_; }
    int index() const { return static_cast<int>(kind_); }
    // The wrapped value of Custom; empty for the other kinds.
    const std::string& value() const { return value_; }
    std::string toString() const override;

    bool operator==(const Error& other) const { return kind_ == other.kind_ && value_ == other.value_; }

private:
    Error(Kind kind, std::string value) : kind_(kind), value_(std::move(value)) {}

    Kind kind_;
    std::string value_;
};

}  // namespace lumo::io
