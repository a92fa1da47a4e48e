#include "sys/ssl/Socket.h"

#include <mutex>

#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"
#include "native/failure.h"
#include "runtime/Thrown.h"
#include "sys/net/StreamErrors.h"

namespace sys::ssl {

std::optional<bool> Socket::DEFAULT_VERIFY_CERT = true;
Certificate::Ptr Socket::DEFAULT_CA;

using net::detail::throwReadByteError;
using net::detail::throwStreamError;

Socket::Socket() : net::Socket(NoInit{}) { Socket::init(); }

Socket::~Socket() = default;

void Socket::init() {
    s_ = native::socket_new(false);
    input = std::make_unique<detail::SocketInput>(this);
    output = std::make_unique<detail::SocketOutput>(this);
    // Sockets may be made on several threads at once: the roots are loaded by one of
    // them, and the others wait for them.
    static std::mutex loading;
    std::lock_guard<std::mutex> guard(loading);
    if (DEFAULT_VERIFY_CERT.value_or(false) && !DEFAULT_CA) {
        try {
            DEFAULT_CA = Certificate::loadDefaults();
        } catch (const runtime::Thrown&) {
            // No usable system roots: verification then fails with the library's text.
        }
    }
    verifyCert = DEFAULT_VERIFY_CERT;
    caCert = DEFAULT_CA;
}

native::ConfigRef Socket::buildSSLConfig(bool server) {
    native::ConfigRef c = native::tls_config_new(server);
    if (ownCert && ownKey) native::tls_conf_own_cert(*c, ownCert->x_, ownKey->k_);
    if (altSNIContexts) {
        // Copies, not this: the configuration (and its handshakes) may outlive the socket,
        // and selects among the identities it was built with.
        sniCallback = std::make_shared<native::SniFunction>(
            [alternatives = *altSNIContexts, cert = ownCert, key = ownKey](
                const std::string& name) -> std::optional<std::pair<native::CertRef, native::KeyRef>> {
                for (const SniContext& alt : alternatives) {
                    if (alt.match && alt.match(name) && alt.cert && alt.key) {
                        return std::make_pair(alt.cert->x_, alt.key->k_);
                    }
                }
                if (key && cert) return std::make_pair(cert->x_, key->k_);
                return std::nullopt;
            });
        native::tls_conf_sni(*c, sniCallback);
    }
    if (caCert) native::tls_conf_ca(*c, caCert->x_);
    using native::TlsAuthMode;
    native::tls_conf_authmode(*c, !verifyCert   ? TlsAuthMode::Optional
                                  : *verifyCert ? TlsAuthMode::Required
                                                : TlsAuthMode::None);
    return c;
}

void Socket::connect(const net::Host& host, int port) {
    try {
        bool ipv6 = ipv6Only(host);
        if (ipv6) native::socket_reopen(s_.get(), true);  // before the context takes it
        conf = buildSSLConfig(false);
        ssl = native::tls_context_new(conf, s_.get());  // the old context keeps its own
        handshakeDone = false;
        if (!hostname) hostname = host.host;
        native::tls_set_hostname(*ssl, *hostname);
        // mbedTLS writes a handshake flight in several calls; with Nagle's algorithm the
        // later ones wait for the server's delayed acknowledgement, about 40 ms a handshake.
        native::socket_set_nodelay(s_.get());
        if (ipv6) {
            native::socket_connect_ipv6(s_.get(), *host.ipv6, port);
        } else {
            native::socket_connect(s_.get(), static_cast<std::uint32_t>(host.ip), port);
        }
        handshake();
    } catch (const runtime::ThrownMessage& e) {
        if (native::failureKind(e) == native::FailureKind::InvalidHandle) {
            throw runtime::ThrownMessage("Failed to connect on " + host.host + ":" + std::to_string(port));
        }
        throw;
    }
}

void Socket::handshake() {
    if (handshakeDone) return;
    if (!ssl) throw runtime::ThrownMessage("TLS socket is not connected");
    try {
        native::tls_handshake(*ssl);
    } catch (const runtime::Thrown& e) {
        if (native::failureKind(e) == native::FailureKind::Blocking) {
            throw lumo::io::Error::Blocked();
        }
        throw;
    }
    handshakeDone = true;
}

void Socket::write(const std::string& content) {
    handshake();
    lumo::io::Bytes data = lumo::io::Bytes::ofString(content);
    native::tls_write_all(*ssl, data.b(), data.length());
}

void Socket::close() {
    if (ssl) native::tls_context_close(*ssl);
    if (conf) native::tls_config_close(*conf);
    if (altSNIContexts) sniCallback.reset();
    native::socket_close(s_.get());
    static_cast<detail::SocketOutput&>(*output).detach();
    static_cast<detail::SocketInput&>(*input).detach();
    input->close();
    output->close();
}

namespace detail {

int SocketInput::readByte() {
    try {
        if (!s_) throw runtime::ThrownMessage("Invalid handle");
        s_->handshake();
        return native::tls_recv_char(*s_->ssl);
    } catch (const runtime::Thrown& e) {
        throwReadByteError(e, !s_);
    }
}

int SocketInput::readBytes(lumo::io::Bytes& buf, int pos, int len) {
    if (!s_) throw runtime::ThrownMessage("Invalid handle");
    int r = 0;
    try {
        s_->handshake();
        r = native::tls_recv(*s_->ssl, buf.b(), buf.length(), pos, len);
    } catch (const runtime::Thrown& e) {
        throwStreamError(e);
    }
    if (r == 0) throw lumo::io::Eof();
    return r;
}

void SocketInput::close() {
    Input::close();
    if (s_) s_->close();
}

void SocketOutput::writeByte(int c) {
    if (!s_) throw runtime::ThrownMessage("Invalid handle");
    try {
        s_->handshake();
        native::tls_send_char(*s_->ssl, c);
    } catch (const runtime::Thrown& e) {
        throwStreamError(e);
    }
}

int SocketOutput::writeBytes(const lumo::io::Bytes& buf, int pos, int len) {
    try {
        // Detached: fail before touching the released context.
        if (!s_) throw runtime::ThrownMessage("Invalid handle");
        s_->handshake();
        return native::tls_send(*s_->ssl, buf.b(), buf.length(), pos, len);
    } catch (const runtime::Thrown& e) {
        throwStreamError(e);
    }
}

void SocketOutput::close() {
    Output::close();
    if (s_) s_->close();
}

}  // namespace detail

}  // namespace sys::ssl
