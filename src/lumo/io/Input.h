#pragma once
// Abstract byte input. A concrete input throws lumo::io::Eof at its end and overrides
// readBytes with a bulk read that returns as soon as some bytes are there.
#include <optional>

#include "lumo/io/Bytes.h"

namespace lumo::io {

class Input {
public:
    virtual ~Input() = default;

    // One byte, 0 to 255. The base throws "Not implemented".
    virtual int readByte();
    // Up to len bytes into s at pos; the count stored. The base reads byte by byte and
    // returns a short count (0 when already at the end) instead of throwing Eof.
    virtual int readBytes(Bytes& s, int pos, int len);
    virtual void close() {}

    // Every byte up to the end, read in chunks (16384 bytes when absent). A read that
    // makes no progress throws Error Blocked; what was gathered is then lost.
    Bytes readAll(std::optional<int> bufsize = std::nullopt);
};

}  // namespace lumo::io
