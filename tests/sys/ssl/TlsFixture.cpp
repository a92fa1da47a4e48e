#include "sys/ssl/TlsFixture.h"

#include <mbedtls/net_sockets.h>

#include <csignal>
#include <mutex>

#include "native/tls_handles.h"

namespace tlstest {

using namespace std::chrono_literals;

namespace {
struct CertDir {
    testsupport::TempDir dir;
    CertDir() {
        auto r = testsupport::run({"sh", MAKE_CERTS_SCRIPT, dir.path().string()}, 60s);
        if (r.status != 0) throw std::runtime_error("make_certs.sh failed: " + r.err);
    }
};
}  // namespace

const testsupport::TempDir& certs() {
    static const CertDir made;
    return made.dir;
}

std::string cert(const std::string& name) { return certs().file(name + ".crt"); }
std::string key(const std::string& name) { return certs().file(name + ".key"); }

int opensslServer(const std::string& name, const std::string& groups) {
    static std::mutex lock;
    static std::map<std::string, std::pair<int, std::unique_ptr<testsupport::Daemon>>> running;
    std::lock_guard<std::mutex> guard(lock);
    auto& slot = running[name + " " + groups];
    if (!slot.second) {
        int port = testsupport::freePort();
        std::vector<std::string> command{"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port),
                                         "-cert", cert(name), "-key", key(name), "-www"};
        if (!groups.empty()) command.insert(command.end(), {"-groups", groups});
        slot.second = std::make_unique<testsupport::Daemon>(command, port, 30s);
        slot.first = port;
    }
    return slot.first;
}

OwnServer::OwnServer(sys::ssl::Socket& identity, Session session, const std::string& address) {
    // The library's own socket functions write without MSG_NOSIGNAL; a client that has
    // already gone must give an error, as it does in the launcher, which ignores SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    native::ConfigRef conf = identity.buildSSLConfig(true);
    server_ = std::make_unique<testsupport::ScriptedServer>([this, conf, session](int fd) {
        mbedtls_net_context net{fd};
        native::TlsContext::Library ssl;
        mbedtls_ssl_setup(&ssl.value, conf->get());
        mbedtls_ssl_set_bio(&ssl.value, &net, mbedtls_net_send, mbedtls_net_recv, nullptr);
        int r;
        // The descriptor's receive timeout bounds each step.
        for (int steps = 0; steps < 100; ++steps) {
            r = mbedtls_ssl_handshake(&ssl.value);
            if (r != MBEDTLS_ERR_SSL_WANT_READ && r != MBEDTLS_ERR_SSL_WANT_WRITE) break;
        }
        handshake_ = r;
        if (r == 0) session(&ssl.value, fd);
    }, address);
}

std::unique_ptr<sys::ssl::Socket> client(std::optional<bool> verify) {
    auto s = std::make_unique<sys::ssl::Socket>();
    s->verifyCert = verify;
    s->caCert = sys::ssl::Certificate::loadFile(cert("ca"));
    return s;
}

}  // namespace tlstest
