#include "runtime/Thrown.h"

namespace runtime {

const char* Thrown::what() const noexcept {
    try {
        what_ = toString();
        return what_.c_str();
    } catch (...) {
        return "thrown value";
    }
}

}  // namespace runtime
