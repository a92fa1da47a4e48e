#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/error.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "native/byte_range.h"
#include "native/failure.h"
#include "native/tls_handles.h"
#include "native/tls_threading.h"
#include "runtime/Thrown.h"

namespace native {

namespace {

// The one process-wide random generator, seeded once from the library's entropy sources.
struct Random {
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    Random() {
        tls_threading_setup();
        mbedtls_entropy_init(&entropy);
        mbedtls_ctr_drbg_init(&drbg);
        mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0);
    }
    ~Random() {
        mbedtls_ctr_drbg_free(&drbg);
        mbedtls_entropy_free(&entropy);
    }
};

Random& random() {
    static Random r;
    return r;
}

// The library's default curves, all of them, with x25519 and secp256r1 first: the
// default list opens with secp521r1, and servers that take the client's order then spend
// every key exchange on the slowest curve. Nothing is dropped, so a server that agreed on
// a curve before still finds it.
const mbedtls_ecp_group_id* clientCurves() {
    static const std::vector<mbedtls_ecp_group_id> curves = [] {
        auto rank = [](mbedtls_ecp_group_id id) {
            return id == MBEDTLS_ECP_DP_CURVE25519 ? 0 : id == MBEDTLS_ECP_DP_SECP256R1 ? 1 : 2;
        };
        // One pass per rank rather than a stable sort, whose scratch buffer is an allocation
        // allowed to fail silently.
        std::vector<mbedtls_ecp_group_id> ids;
        for (int r = 0; r <= 2; ++r) {
            for (const mbedtls_ecp_group_id* id = mbedtls_ecp_grp_id_list(); *id != MBEDTLS_ECP_DP_NONE; ++id) {
                if (rank(*id) == r) ids.push_back(*id);
            }
        }
        ids.push_back(MBEDTLS_ECP_DP_NONE);
        return ids;
    }();
    return curves.data();
}

[[noreturn]] void fail(int code) { throw runtime::ThrownMessage(tls_error_text(code)); }

[[noreturn]] void failTransport(const TlsContext& ctx) {
    bool blocking = ctx.lastFailure != SocketFailure::Other;
    if (blocking) throw Failure(FailureKind::Blocking, "Blocking");
    throw Failure(FailureKind::Other, "ssl network error");
}

mbedtls_ssl_context* open(TlsContext& ctx) {
    if (!ctx.ssl) throw runtime::ThrownMessage("TLS context is closed");
    return ctx.get();
}

int sendCallback(void* p, const unsigned char* data, std::size_t len) {
    auto& ctx = *static_cast<TlsContext*>(p);
    int n = socket_send_raw(ctx.socket, data, len);
    if (n < 0) ctx.lastFailure = socket_last_failure();
    return n;
}

int recvCallback(void* p, unsigned char* data, std::size_t len) {
    auto& ctx = *static_cast<TlsContext*>(p);
    int n = socket_recv_raw(ctx.socket, data, len);
    if (n < 0) ctx.lastFailure = socket_last_failure();
    return n;
}

// A record that carries no data (a warning alert such as no_renegotiation) makes the
// library ask for the read again. The socket is blocking, so that is the only way it
// asks; it is repeated for as long as the socket's timeout, after which it counts as one
// that ran out.
int readRepeated(TlsContext& ctx, unsigned char* data, std::size_t len) {
    mbedtls_ssl_context* ssl = open(ctx);
    std::chrono::milliseconds timeout = socket_timeout(ctx.socket);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int r = mbedtls_ssl_read(ssl, data, len);
        if (r != MBEDTLS_ERR_SSL_WANT_READ && r != MBEDTLS_ERR_SSL_WANT_WRITE) return r;
        if (timeout.count() > 0 && std::chrono::steady_clock::now() >= deadline) {
            ctx.lastFailure = SocketFailure::TimedOut;
            return -1;
        }
    }
}

int sniCallback(void* p, mbedtls_ssl_context* ssl, const unsigned char* name, std::size_t len) {
    auto* sni = static_cast<const SniFunction*>(p);
    if (name == nullptr || sni == nullptr || !*sni) return -1;
    std::string requested(reinterpret_cast<const char*>(name), len);
    requested.resize(std::strlen(requested.c_str()));  // up to the first NUL
    auto chosen = (*sni)(requested);
    if (!chosen || !chosen->first || !chosen->second) return -1;
    return mbedtls_ssl_set_hs_own_cert(ssl, &chosen->first->value, &chosen->second->value);
}

CertRef loadChain(int (*parse)(mbedtls_x509_crt*, const char*), const std::string& from) {
    tls_threading_setup();  // the keys of the chain hold library locks
    auto chain = std::make_shared<CertChain>();
    // A positive result counts certificates that failed to parse: the load fails whole.
    if (int r = parse(&chain->value, from.c_str()); r != 0) fail(r);
    return chain;
}

}  // namespace

std::string tls_error_text(int code) {
    char buf[256];
    mbedtls_strerror(code, buf, sizeof buf);
    return buf;
}

CertRef cert_load_file(const std::string& file) { return loadChain(mbedtls_x509_crt_parse_file, file); }
CertRef cert_load_path(const std::string& path) { return loadChain(mbedtls_x509_crt_parse_path, path); }

int cert_count(const CertChain& chain) {
    int n = 0;
    for (const mbedtls_x509_crt* c = &chain.value; c != nullptr && c->raw.len > 0; c = c->next) ++n;
    return n;
}

KeyRef key_load_file(const std::string& file) {
    tls_threading_setup();
    auto key = std::make_shared<PrivateKey>();
    if (int r = mbedtls_pk_parse_keyfile(&key->value, file.c_str(), nullptr); r != 0) fail(r);
    return key;
}

ConfigRef tls_config_new(bool server) {
    auto c = std::make_shared<TlsConfig>();
    int r = mbedtls_ssl_config_defaults(c->get(), server ? MBEDTLS_SSL_IS_SERVER : MBEDTLS_SSL_IS_CLIENT,
                                        MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT);
    if (r != 0) fail(r);  // the configuration is freed with c
    mbedtls_ssl_conf_rng(c->get(), mbedtls_ctr_drbg_random, &random().drbg);
    if (!server) mbedtls_ssl_conf_curves(c->get(), clientCurves());
    return c;
}

void tls_conf_own_cert(TlsConfig& c, const CertRef& cert, const KeyRef& key) {
    if (int r = mbedtls_ssl_conf_own_cert(c.get(), &cert->value, &key->value); r != 0) fail(r);
    c.ownCert = cert;
    c.ownKey = key;
}

void tls_conf_sni(TlsConfig& c, std::shared_ptr<SniFunction> sni) {
    mbedtls_ssl_conf_sni(c.get(), sniCallback, sni.get());
    c.sni = std::move(sni);
}

void tls_conf_ca(TlsConfig& c, const CertRef& chain) {
    mbedtls_ssl_conf_ca_chain(c.get(), chain ? &chain->value : nullptr, nullptr);
    c.ca = chain;
}

void tls_conf_authmode(TlsConfig& c, TlsAuthMode mode) {
    int authmode = MBEDTLS_SSL_VERIFY_NONE;
    if (mode == TlsAuthMode::Required) authmode = MBEDTLS_SSL_VERIFY_REQUIRED;
    if (mode == TlsAuthMode::Optional) authmode = MBEDTLS_SSL_VERIFY_OPTIONAL;
    mbedtls_ssl_conf_authmode(c.get(), authmode);
}

void tls_config_close(TlsConfig& c) { c.conf.reset(); }

ContextRef tls_context_new(const ConfigRef& c, SocketHandle* socket) {
    auto ctx = std::make_shared<TlsContext>();
    ctx->config = c;
    if (int r = mbedtls_ssl_setup(ctx->get(), c->get()); r != 0) fail(r);
    ctx->socket = socket;
    mbedtls_ssl_set_bio(ctx->get(), ctx.get(), sendCallback, recvCallback, nullptr);
    return ctx;
}

void tls_set_hostname(TlsContext& ctx, const std::string& name) {
    if (int r = mbedtls_ssl_set_hostname(open(ctx), name.c_str()); r != 0) fail(r);
}

void tls_handshake(TlsContext& ctx) {
    int r = mbedtls_ssl_handshake(open(ctx));
    if (r == -1) failTransport(ctx);
    if (r != 0) fail(r);
}

void tls_write_all(TlsContext& ctx, const unsigned char* data, int size) {
    mbedtls_ssl_context* ssl = open(ctx);
    const unsigned char* cursor = data;
    std::size_t remaining = static_cast<std::size_t>(size);
    while (remaining > 0) {
        int r = mbedtls_ssl_write(ssl, cursor, remaining);
        if (r == -1) failTransport(ctx);
        // A TLS failure is no byte count: stop with its text rather than loop on it.
        if (r < 0) fail(r);
        cursor += r;
        remaining -= static_cast<std::size_t>(r);
    }
}

void tls_send_char(TlsContext& ctx, int c) {
    if (c < 0 || c > 255) throw runtime::ThrownMessage("invalid char");
    auto byte = static_cast<unsigned char>(c);
    tls_write_all(ctx, &byte, 1);
}

int tls_send(TlsContext& ctx, const unsigned char* buf, int size, int pos, int len) {
    if (!isRange(size, pos, len)) throw runtime::ThrownMessage("ssl_send");
    int r = mbedtls_ssl_write(open(ctx), buf + pos, static_cast<std::size_t>(len));
    if (r == -1) failTransport(ctx);
    return r;
}

int tls_recv_char(TlsContext& ctx) {
    unsigned char byte = 0;
    if (readRepeated(ctx, &byte, 1) <= 0) throw runtime::ThrownMessage("ssl_recv_char");
    return byte;
}

int tls_recv(TlsContext& ctx, unsigned char* buf, int size, int pos, int len) {
    if (!isRange(size, pos, len)) throw runtime::ThrownMessage("ssl_recv");
    int r = readRepeated(ctx, buf + pos, static_cast<std::size_t>(len));
    if (r == -1) failTransport(ctx);
    if (r < 0) throw runtime::ThrownMessage("ssl_recv");
    return r;
}

void tls_context_close(TlsContext& ctx) { ctx.ssl.reset(); }

}  // namespace native
