#pragma once
// The text of what a call throws, for tests that check messages exactly.
#include <string>

#include "runtime/Thrown.h"

namespace testsupport {

template <typename F>
std::string thrownText(F f) {
    try {
        f();
    } catch (const runtime::Thrown& e) {
        return e.toString();
    }
    return "nothing thrown";
}

}  // namespace testsupport
