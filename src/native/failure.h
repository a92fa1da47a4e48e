#pragma once
// What the platform layer throws on a failed call: the text a user may see, and beside it
// the kind that callers act on, so that rewording a text never changes how it is handled.
#include <string>

#include "runtime/Thrown.h"

namespace native {

enum class FailureKind { Blocking, EndOfStream, InvalidHandle, Other };

class Failure : public runtime::ThrownMessage {
public:
    Failure(FailureKind kind, std::string text) : ThrownMessage(std::move(text)), kind_(kind) {}
    FailureKind kind() const { return kind_; }

private:
    FailureKind kind_;
};

// The kind of a thrown value; Other for anything the platform layer did not throw.
inline FailureKind failureKind(const runtime::Thrown& e) {
    const auto* failure = dynamic_cast<const Failure*>(&e);
    return failure ? failure->kind() : FailureKind::Other;
}

}  // namespace native
