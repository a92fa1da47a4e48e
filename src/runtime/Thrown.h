#pragma once
// Root of every value the system throws. The start-up guard catches this type and
// reports toString(); nothing throws bare strings or C strings.
#include <exception>
#include <string>

namespace runtime {

class Thrown : public std::exception {
public:
    virtual std::string toString() const = 0;
    const char* what() const noexcept override;

private:
    mutable std::string what_;
};

// A thrown text message ("Invalid process", "Process creation failure : ...").
class ThrownMessage : public Thrown {
public:
    explicit ThrownMessage(std::string message) : message_(std::move(message)) {}
    std::string toString() const override { return message_; }
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

}  // namespace runtime
