#pragma once
// Growable byte accumulator. After getBytes it holds nothing and must not be used again.
// It holds at most 2^31 - 1 bytes (lengths are Int): an append past that throws
// lumo::io::Error Overflow and leaves the buffer as it was. Appending costs amortised
// constant time per byte, whatever the size of the pieces.
#include <vector>

#include "lumo/io/Bytes.h"

namespace lumo::io {

class BytesBuffer {
public:
    int length() const { return Bytes::checkedLength(b_.size()); }
    void addByte(int value);
    // Appends src[pos .. pos+len-1]; OutsideBounds for a range outside src.
    void addBytes(const Bytes& src, int pos, int len);
    // Hands the storage to the result without copying.
    Bytes getBytes();

private:
    // The length after extra more bytes; Overflow past the longest Bytes.
    std::size_t lengthAfter(std::size_t extra) const;
    void reserveFor(std::size_t needed);

    std::vector<unsigned char> b_;
};

}  // namespace lumo::io
