#include "lumo/io/BytesBuffer.h"

#include <utility>

#include "lumo/io/Error.h"

namespace lumo::io {

// A large jump is taken as asked; a small one grows by half again, so that appending in
// small pieces costs amortised constant time per byte.
void BytesBuffer::reserveFor(std::size_t needed) {
    std::size_t capacity = b_.capacity();
    if (needed <= capacity) return;
    b_.reserve(needed > capacity + 64 ? needed : needed * 3 / 2 + 10);
}

void BytesBuffer::addByte(int value) {
    reserveFor(b_.size() + 1);
    b_.push_back(static_cast<unsigned char>(value));
}

void BytesBuffer::addBytes(const Bytes& src, int pos, int len) {
    if (!src.isRange(pos, len)) throw Error::OutsideBounds();
    reserveFor(b_.size() + static_cast<std::size_t>(len));
    b_.insert(b_.end(), src.b() + pos, src.b() + pos + len);
}

Bytes BytesBuffer::getBytes() { return Bytes::adopt(std::exchange(b_, {})); }

}  // namespace lumo::io
