#include "lumo/io/BytesOutput.h"

namespace lumo::io {

int BytesOutput::writeBytes(const Bytes& s, int pos, int len) {
    b_.addBytes(s, pos, len);
    return len;
}

}  // namespace lumo::io
