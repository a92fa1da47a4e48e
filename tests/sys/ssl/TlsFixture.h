#pragma once
// Certificates made once per test run, openssl s_server peers started on demand, and a
// TLS server of our own (a thread driving the peer side with our server-role
// configuration) for behaviour that a stock server does not offer on cue.
#include <mbedtls/ssl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "support/Run.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "sys/ssl/Socket.h"

namespace tlstest {

// The folder with ca, localhost, other, a, b, self, expired, untrusted (.crt and .key).
const testsupport::TempDir& certs();
std::string cert(const std::string& name);
std::string key(const std::string& name);

// Port of an openssl s_server in -www mode presenting the named certificate; with groups
// (colon-separated), it agrees only on those for the key exchange.
int opensslServer(const std::string& name, const std::string& groups = "");

// After a completed handshake on the server side.
using Session = std::function<void(mbedtls_ssl_context* ssl, int fd)>;

// Accepts one connection, handshakes with identity.buildSSLConfig(true), then runs the
// session; the connection's TCP end closes after it without a close-notify.
class OwnServer {
public:
    OwnServer(sys::ssl::Socket& identity, Session session, const std::string& address = "127.0.0.1");
    int port() const { return server_->port(); }
    // What the server's handshake returned (0 on success); valid after join.
    int handshakeResult() const { return handshake_; }
    void join() { server_->join(); }

private:
    int handshake_ = 1;
    std::unique_ptr<testsupport::ScriptedServer> server_;
};

// A client socket that trusts the test CA.
std::unique_ptr<sys::ssl::Socket> client(std::optional<bool> verify);

}  // namespace tlstest
