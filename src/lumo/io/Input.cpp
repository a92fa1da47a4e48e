#include "lumo/io/Input.h"

#include "lumo/io/BytesBuffer.h"
#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"

namespace lumo::io {

int Input::readByte() { throw runtime::ThrownMessage("Not implemented"); }

int Input::readBytes(Bytes& s, int pos, int len) {
    if (!s.isRange(pos, len)) throw Error::OutsideBounds();
    int k = len;
    try {
        while (k > 0) {
            s.set(pos, readByte() & 0xFF);
            ++pos;
            --k;
        }
    } catch (const Eof&) {
    }
    return len - k;
}

Bytes Input::readAll(std::optional<int> bufsize) {
    int m = bufsize.value_or(1 << 14);
    Bytes buf = Bytes::alloc(m);
    BytesBuffer total;
    try {
        for (;;) {
            int n = readBytes(buf, 0, m);
            if (n == 0) throw Error::Blocked();
            if (n < 0 || n > buf.length()) throw Error::OutsideBounds();
            total.addBytes(buf, 0, n);
        }
    } catch (const Eof&) {
    }
    return total.getBytes();
}

}  // namespace lumo::io
