#pragma once
// How the socket streams (TCP and TLS) turn the native layer's failures, by their kind,
// into the lumo::io contract: the one mapping from kind to stream error.
#include "runtime/Thrown.h"

namespace sys::net::detail {

// Blocking becomes Error Blocked; the end of the stream Eof where endIsEof (a send);
// anything else Error Custom(text).
[[noreturn]] void throwStreamError(const runtime::Thrown& e, bool endIsEof = false);
// readByte's rule: Blocked; Custom(text) for a detached stream; otherwise Eof.
[[noreturn]] void throwReadByteError(const runtime::Thrown& e, bool detached);

}  // namespace sys::net::detail
