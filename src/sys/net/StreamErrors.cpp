#include "sys/net/StreamErrors.h"

#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"
#include "native/failure.h"

namespace sys::net::detail {

void throwStreamError(const runtime::Thrown& e, bool endIsEof) {
    native::FailureKind kind = native::failureKind(e);
    if (kind == native::FailureKind::Blocking) throw lumo::io::Error::Blocked();
    if (endIsEof && kind == native::FailureKind::EndOfStream) throw lumo::io::Eof();
    throw lumo::io::Error::Custom(e.toString());
}

void throwReadByteError(const runtime::Thrown& e, bool detached) {
    if (detached || native::failureKind(e) == native::FailureKind::Blocking) throwStreamError(e);
    throw lumo::io::Eof();
}

}  // namespace sys::net::detail
