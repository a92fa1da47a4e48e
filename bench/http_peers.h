#pragma once
// The clients our HTTP client is measured against. Each does one GET on a fresh
// connection, reads the response to its end and returns the body's byte count; a failure
// throws std::runtime_error. Every read and write is bounded by a 10 s timeout.
#include <cstddef>
#include <memory>
#include <string>

namespace bench {

// The floor for a client that reads in 1024-byte pieces: a TCP connection to 127.0.0.1,
// the same request bytes our client sends, recv of 1024 bytes until the server closes.
std::size_t rawGet(int port, const std::string& path);

// The floor for TLS on mbedTLS's default configuration: the CA chain parsed and the
// random generator seeded once, as our client does; per request a configuration from the
// library's defaults with required verification, set_hostname, handshake, one request,
// reads until the server closes. Tuned, the TCP socket sends at once (TCP_NODELAY) instead
// of holding small writes until the previous one is acknowledged, and the client offers
// only x25519 and secp256r1 for the key exchange, in that order.
struct TlsTuning {
    bool noDelay = false;
    bool fastCurves = false;
};

class MinimalTlsClient {
public:
    MinimalTlsClient(const std::string& caFile, TlsTuning tuning);
    ~MinimalTlsClient();
    MinimalTlsClient(const MinimalTlsClient&) = delete;
    MinimalTlsClient& operator=(const MinimalTlsClient&) = delete;

    std::size_t get(const std::string& host, int port, const std::string& path);

private:
    struct Shared;
    std::unique_ptr<Shared> shared_;
    TlsTuning tuning_;
};

#ifdef HAVE_LIBCURL
// libcurl with an easy handle per request (no connection or session reuse), IPv4 only
// as our client; caFile, when not empty, is the only trust anchor.
std::size_t curlGet(const std::string& url, const std::string& caFile);
#endif

}  // namespace bench
