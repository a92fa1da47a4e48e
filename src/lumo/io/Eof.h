#pragma once
#include "runtime/Thrown.h"

namespace lumo::io {

// Thrown by an input that has reached its end.
class Eof : public runtime::Thrown {
public:
    std::string toString() const override { return "Eof"; }
};

}  // namespace lumo::io
