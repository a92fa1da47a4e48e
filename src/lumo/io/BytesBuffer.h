#pragma once
// Growable byte accumulator. After getBytes it holds nothing and must not be used again.
#include <vector>

#include "lumo/io/Bytes.h"

namespace lumo::io {

class BytesBuffer {
public:
    int length() const { return static_cast<int>(b_.size()); }
    void addByte(int value);
    // Appends src[pos .. pos+len-1]; OutsideBounds for a range outside src.
    void addBytes(const Bytes& src, int pos, int len);
    // Hands the storage to the result without copying.
    Bytes getBytes();

private:
    void reserveFor(std::size_t needed);

    std::vector<unsigned char> b_;
};

}  // namespace lumo::io
