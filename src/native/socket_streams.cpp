// Byte transfers over a socket, built on the raw calls of each platform's layer.
#include "native/byte_range.h"
#include "native/failure.h"
#include "native/socket.h"
#include "native/socket_api.h"
#include "runtime/Thrown.h"

namespace native {

namespace {
SocketHandle* requireHandle(SocketHandle* s) {
    if (s == nullptr) throw Failure(FailureKind::InvalidHandle, "Invalid socket handle");
    return s;
}
}  // namespace

int socket_send(SocketHandle* s, const unsigned char* bytes, int size, int pos, int len) {
    requireHandle(s);
    if (!isRange(size, pos, len)) return 0;
    int n = socket_send_raw(s, bytes + pos, static_cast<std::size_t>(len));
    if (n < 0) socket_throw_failure();
    return n;
}

int socket_recv(SocketHandle* s, unsigned char* bytes, int size, int pos, int len) {
    requireHandle(s);
    if (!isRange(size, pos, len)) return 0;
    int n = socket_recv_raw(s, bytes + pos, static_cast<std::size_t>(len));
    if (n < 0) socket_throw_failure();
    return n;
}

void socket_send_char(SocketHandle* s, int c) {
    auto byte = static_cast<unsigned char>(c);
    if (socket_send_raw(requireHandle(s), &byte, 1) < 0) socket_throw_failure();
}

int socket_recv_char(SocketHandle* s) {
    unsigned char byte = 0;
    int n = socket_recv_raw(requireHandle(s), &byte, 1);
    if (n < 0) socket_throw_failure();
    if (n == 0) throw runtime::ThrownMessage("Connection closed");
    return byte;
}

void socket_write(SocketHandle* s, const std::string& text) {
    requireHandle(s);
    std::size_t done = 0;
    while (done < text.size()) {
        int n = socket_send_raw(s, reinterpret_cast<const unsigned char*>(text.data()) + done, text.size() - done);
        if (n < 0) socket_throw_failure();
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace native
