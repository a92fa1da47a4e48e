#include "sys/net/StreamErrors.h"

#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"

namespace sys::net::detail {

void throwStreamError(const runtime::Thrown& e) {
    std::string text = e.toString();
    if (text == "Blocking") throw lumo::io::Error::Blocked();
    throw lumo::io::Error::Custom(text);
}

void throwReadByteError(const runtime::Thrown& e, bool detached) {
    if (detached || e.toString() == "Blocking") throwStreamError(e);
    throw lumo::io::Eof();
}

}  // namespace sys::net::detail
