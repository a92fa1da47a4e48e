#pragma once
// How the socket streams (TCP and TLS) turn the native layer's thrown text into the
// lumo::io contract.
#include "runtime/Thrown.h"

namespace sys::net::detail {

// "Blocking" becomes Error Blocked; anything else Error Custom(text).
[[noreturn]] void throwStreamError(const runtime::Thrown& e);
// readByte's rule: Blocked; Custom(text) for a detached stream; otherwise Eof.
[[noreturn]] void throwReadByteError(const runtime::Thrown& e, bool detached);

}  // namespace sys::net::detail
