#include "lumo/io/BytesBuffer.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "lumo/io/Error.h"

namespace lumo::io {

std::size_t BytesBuffer::lengthAfter(std::size_t extra) const {
    return static_cast<std::size_t>(Bytes::checkedLength(b_.size() + extra));
}

// Grows by half again at least, whatever the size of the piece, so that appending costs
// amortised constant time per byte: the storage is reallocated a logarithmic number of
// times in the final length. Never past the longest Bytes, which is all it may hold.
void BytesBuffer::reserveFor(std::size_t needed) {
    std::size_t capacity = b_.capacity();
    if (needed <= capacity) return;
    constexpr auto longest = static_cast<std::size_t>(std::numeric_limits<int>::max());
    std::size_t grown = std::min(std::max(capacity + capacity / 2, std::size_t{64}), longest);
    b_.reserve(std::max(needed, grown));
}

void BytesBuffer::addByte(int value) {
    reserveFor(lengthAfter(1));
    b_.push_back(static_cast<unsigned char>(value));
}

void BytesBuffer::addBytes(const Bytes& src, int pos, int len) {
    if (!src.isRange(pos, len)) throw Error::OutsideBounds();
    reserveFor(lengthAfter(static_cast<std::size_t>(len)));
    b_.insert(b_.end(), src.b() + pos, src.b() + pos + len);
}

Bytes BytesBuffer::getBytes() { return Bytes::adopt(std::exchange(b_, {})); }

}  // namespace lumo::io
