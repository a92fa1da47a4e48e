#include "lumo/io/Bytes.h"

#include <cstdint>

#include "lumo/io/Error.h"

namespace lumo::io {

Bytes Bytes::alloc(int length) {
    return Bytes(length, std::vector<unsigned char>(length > 0 ? static_cast<std::size_t>(length) : 0));
}

Bytes Bytes::ofString(std::string_view s) {
    return Bytes(static_cast<int>(s.size()), std::vector<unsigned char>(s.begin(), s.end()));
}

Bytes Bytes::adopt(std::vector<unsigned char>&& storage) {
    int length = static_cast<int>(storage.size());
    return Bytes(length, std::move(storage));
}

bool Bytes::isRange(int pos, int len) const {
    return pos >= 0 && len >= 0 && static_cast<std::int64_t>(pos) + len <= length_;
}

std::string Bytes::getString(int pos, int len) const {
    if (!isRange(pos, len)) throw Error::OutsideBounds();
    return std::string(reinterpret_cast<const char*>(b_.data()) + pos, static_cast<std::size_t>(len));
}

Bytes Bytes::sub(int pos, int len) const {
    if (!isRange(pos, len)) throw Error::OutsideBounds();
    return Bytes(len, std::vector<unsigned char>(b_.begin() + pos, b_.begin() + pos + len));
}

}  // namespace lumo::io
