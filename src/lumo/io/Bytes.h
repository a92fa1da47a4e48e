#pragma once
// Fixed-length byte buffer. Conversion to and from text copies the octets one for one.
// Ranges outside the buffer throw lumo::io::Error OutsideBounds. Lengths are Int: a byte
// count past 2^31 - 1 throws lumo::io::Error Overflow instead of wrapping.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::io {

class Bytes {
public:
    // A length of 0 or less leaves the storage empty; the length still reads back as given.
    static Bytes alloc(int length);
    // Overflow for text longer than 2^31 - 1 bytes.
    static Bytes ofString(std::string_view s);
    // Takes the storage over without copying (used by BytesBuffer::getBytes); Overflow
    // for more than 2^31 - 1 bytes.
    static Bytes adopt(std::vector<unsigned char>&& storage);
    // A byte count as a length: the count itself, or Overflow past 2^31 - 1. Every
    // conversion of a size to a length goes through here.
    static int checkedLength(std::size_t count);

    int length() const { return length_; }
    // Raw storage for the native stream layers, which read or write it in place.
    unsigned char* b() { return b_.data(); }
    const unsigned char* b() const { return b_.data(); }

    unsigned char get(int pos) const { return b_.at(static_cast<std::size_t>(pos)); }
    void set(int pos, int value) { b_.at(static_cast<std::size_t>(pos)) = static_cast<unsigned char>(value); }

    // True when pos and len are not negative and pos + len does not pass the end.
    bool isRange(int pos, int len) const;

    std::string getString(int pos, int len) const;
    std::string toString() const { return getString(0, length_); }
    Bytes sub(int pos, int len) const;

private:
    Bytes(int length, std::vector<unsigned char> storage) : length_(length), b_(std::move(storage)) {}

    int length_;
    std::vector<unsigned char> b_;
};

}  // namespace lumo::io
