#include "lumo/io/Bytes.h"

#include <cstdint>
#include <limits>

#include "lumo/io/Error.h"
#include "native/byte_range.h"

namespace lumo::io {

Bytes Bytes::alloc(int length) {
    return Bytes(length, std::vector<unsigned char>(length > 0 ? static_cast<std::size_t>(length) : 0));
}

Bytes Bytes::ofString(std::string_view s) {
    int length = checkedLength(s.size());  // before anything is copied
    return Bytes(length, std::vector<unsigned char>(s.begin(), s.end()));
}

Bytes Bytes::adopt(std::vector<unsigned char>&& storage) {
    int length = checkedLength(storage.size());
    return Bytes(length, std::move(storage));
}

int Bytes::checkedLength(std::size_t count) {
    if (count > static_cast<std::size_t>(std::numeric_limits<int>::max())) throw Error::Overflow();
    return static_cast<int>(count);
}

bool Bytes::isRange(int pos, int len) const {
    return native::isRange(length_, pos, len);
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
