#pragma once
// An output that collects everything written into one Bytes.
#include "lumo/io/BytesBuffer.h"
#include "lumo/io/Output.h"

namespace lumo::io {

class BytesOutput : public Output {
public:
    void writeByte(int c) override { b_.addByte(c); }
    // OutsideBounds for a range outside s; otherwise appends it all and returns len.
    int writeBytes(const Bytes& s, int pos, int len) override;
    // The bytes written so far; the output must not be written to afterwards.
    Bytes getBytes() { return b_.getBytes(); }

private:
    BytesBuffer b_;
};

}  // namespace lumo::io
