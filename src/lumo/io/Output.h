#pragma once
// Abstract byte output. A concrete output overrides writeBytes with a bulk write that may
// write fewer bytes than asked.
#include "lumo/io/Bytes.h"

namespace lumo::io {

class Output {
public:
    virtual ~Output() = default;

    // The base throws "Not implemented".
    virtual void writeByte(int c);
    // Up to len bytes from s at pos; the count written. The base writes all through writeByte.
    virtual int writeBytes(const Bytes& s, int pos, int len);
    virtual void close() {}

    // Writes exactly len bytes. An output that writes nothing and does not throw makes it
    // throw Error Blocked rather than loop without progress.
    void writeFullBytes(const Bytes& s, int pos, int len);
    // A hint before a write of that many bytes; the base ignores it.
    void prepare(int /*nbytes*/) {}
};

}  // namespace lumo::io
