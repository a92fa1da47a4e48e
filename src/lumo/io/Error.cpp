#include "lumo/io/Error.h"

namespace lumo::io {

std::string Error::toString() const {
    switch (kind_) {
        case Kind::Blocked: return "Blocked";
        case Kind::Overflow: return "Overflow";
        case Kind::OutsideBounds: return "OutsideBounds";
        case Kind::Custom: break;
    }
    return "Custom(" + value_ + ")";
}

}  // namespace lumo::io
