#include "lumo/io/Output.h"

#include "lumo/io/Error.h"

namespace lumo::io {

void Output::writeByte(int /*c*/) { throw runtime::ThrownMessage("Not implemented"); }

int Output::writeBytes(const Bytes& s, int pos, int len) {
    if (!s.isRange(pos, len)) throw Error::OutsideBounds();
    for (int i = 0; i < len; ++i) writeByte(s.get(pos + i));
    return len;
}

void Output::writeFullBytes(const Bytes& s, int pos, int len) {
    while (len > 0) {
        int k = writeBytes(s, pos, len);
        if (k <= 0) throw Error::Blocked();
        pos += k;
        len -= k;
    }
}

}  // namespace lumo::io
