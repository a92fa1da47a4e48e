#include "sys/net/Socket.h"

#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"
#include "native/failure.h"
#include "runtime/Thrown.h"
#include "sys/net/StreamErrors.h"

namespace sys::net {

namespace detail {

int SocketInput::readByte() {
    try {
        return native::socket_recv_char(s_.get());
    } catch (const runtime::Thrown& e) {
        throwReadByteError(e, !s_);
    }
}

int SocketInput::readBytes(lumo::io::Bytes& buf, int pos, int len) {
    if (!s_) throw runtime::ThrownMessage("Invalid handle");
    int n = 0;
    try {
        n = native::socket_recv(s_.get(), buf.b(), buf.length(), pos, len);
    } catch (const runtime::Thrown& e) {
        throwStreamError(e);
    }
    if (n == 0) throw lumo::io::Eof();
    return n;
}

void SocketInput::close() {
    Input::close();
    if (s_) native::socket_close(s_.get());
}

void SocketOutput::writeByte(int c) {
    if (!s_) throw runtime::ThrownMessage("Invalid handle");
    if (static_cast<unsigned>(c) > 255) return;
    try {
        native::socket_send_char(s_.get(), c);
    } catch (const runtime::Thrown& e) {
        throwStreamError(e);
    }
}

int SocketOutput::writeBytes(const lumo::io::Bytes& buf, int pos, int len) {
    try {
        return native::socket_send(s_.get(), buf.b(), buf.length(), pos, len);
    } catch (const runtime::Thrown& e) {
        throwStreamError(e, true);
    }
}

void SocketOutput::close() {
    Output::close();
    if (s_) native::socket_close(s_.get());
}

}  // namespace detail

Socket::Socket() { Socket::init(); }

void Socket::init() {
    if (!s_) s_ = native::socket_new(false);
    input = std::make_unique<detail::SocketInput>(s_);
    output = std::make_unique<detail::SocketOutput>(s_);
}

void Socket::detachStreams() {
    if (auto* in = dynamic_cast<detail::SocketInput*>(input.get())) in->detach();
    if (auto* out = dynamic_cast<detail::SocketOutput*>(output.get())) out->detach();
}

void Socket::close() {
    native::socket_close(s_.get());
    detachStreams();
    input->close();
    output->close();
}

void Socket::write(const std::string& content) { native::socket_write(s_.get(), content); }

void Socket::connect(const Host& host, int port) {
    try {
        if (ipv6Only(host)) {
            close();
            native::socket_reopen(s_.get(), true);  // keeps the timeout set before
            init();
            native::socket_connect_ipv6(s_.get(), *host.ipv6, port);
        } else {
            native::socket_connect(s_.get(), static_cast<std::uint32_t>(host.ip), port);
        }
    } catch (const runtime::ThrownMessage& e) {
        if (native::failureKind(e) == native::FailureKind::InvalidHandle) {
            throw runtime::ThrownMessage("Failed to connect on " + host.toString().value_or("null") + ":" +
                                         std::to_string(port));
        }
        // A connect still in progress is no error.
        if (native::failureKind(e) == native::FailureKind::Blocking) return;
        throw;
    }
}

bool Socket::ipv6Only(const Host& host) {
    if (host.ip != 0 || host.host == "0.0.0.0") return false;
    if (!host.ipv6) throw runtime::ThrownMessage("Unresolved host");
    return true;
}

void Socket::shutdown(bool read, bool write) { native::socket_shutdown(s_.get(), read, write); }

void Socket::setTimeout(double timeout) { native::socket_set_timeout(s_.get(), timeout); }

Socket::Selected Socket::select(const std::optional<std::vector<Socket*>>& read,
                                const std::optional<std::vector<Socket*>>& write,
                                const std::optional<std::vector<Socket*>>& others,
                                std::optional<double> timeout) {
    auto handles = [](const std::optional<std::vector<Socket*>>& sockets) {
        std::optional<std::vector<native::SocketHandle*>> out;
        if (!sockets) return out;
        out.emplace();
        for (Socket* s : *sockets) out->push_back(s ? s->s_.get() : nullptr);
        return out;
    };
    native::SelectSets ready = native::socket_select(handles(read), handles(write), handles(others), timeout);
    auto pick = [](const std::optional<std::vector<Socket*>>& sockets, const std::vector<bool>& flags) {
        std::optional<std::vector<Socket*>> out;
        if (!sockets) return out;
        out.emplace();
        for (std::size_t i = 0; i < sockets->size(); ++i) {
            if (flags[i]) out->push_back((*sockets)[i]);
        }
        return out;
    };
    return {pick(read, ready.read), pick(write, ready.write), pick(others, ready.others)};
}

}  // namespace sys::net
