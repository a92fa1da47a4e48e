#include "http_peers.h"

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/error.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#ifdef HAVE_LIBCURL
#include <curl/curl.h>
#endif

namespace bench {

namespace {

constexpr int kTimeoutMs = 10000;

std::string request(const std::string& host, const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
}

// Counts the bytes after the blank line that ends the head of a response read to its close.
class BodyCounter {
public:
    void add(const char* data, std::size_t n) {
        if (headEnd_ != std::string::npos) {
            body_ += n;
            return;
        }
        head_.append(data, n);
        headEnd_ = head_.find("\r\n\r\n");
        if (headEnd_ != std::string::npos) body_ = head_.size() - headEnd_ - 4;
    }
    std::size_t body() const {
        if (headEnd_ == std::string::npos)
            throw std::runtime_error("response without a complete head");
        return body_;
    }

private:
    std::string head_;
    std::size_t headEnd_ = std::string::npos;
    std::size_t body_ = 0;
};

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {
        if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    ~Descriptor() { ::close(fd_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

void failErrno(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Owns one mbedTLS context through the library's own init and free functions.
template <typename T, void (*Init)(T*), void (*Free)(T*)>
struct Mbed {
    T v;
    Mbed() { Init(&v); }
    ~Mbed() { Free(&v); }
    Mbed(const Mbed&) = delete;
    Mbed& operator=(const Mbed&) = delete;
};

void checkTls(int rc, const char* what) {
    if (rc >= 0) return;
    char text[160];
    mbedtls_strerror(rc, text, sizeof text);
    throw std::runtime_error(std::string(what) + ": " + text);
}

}  // namespace

std::size_t rawGet(int port, const std::string& path) {
    Descriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    timeval bound{kTimeoutMs / 1000, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        failErrno("connect");

    const std::string text = request("127.0.0.1", path);
    for (std::size_t sent = 0; sent < text.size();) {
        ssize_t n = ::send(fd.get(), text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR) failErrno("send");
        if (n > 0) sent += static_cast<std::size_t>(n);
    }
    BodyCounter counter;
    char piece[1024];
    for (;;) {
        ssize_t n = ::recv(fd.get(), piece, sizeof piece, 0);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            failErrno("recv");
        }
        counter.add(piece, static_cast<std::size_t>(n));
    }
    return counter.body();
}

struct MinimalTlsClient::Shared {
    Mbed<mbedtls_entropy_context, mbedtls_entropy_init, mbedtls_entropy_free> entropy;
    Mbed<mbedtls_ctr_drbg_context, mbedtls_ctr_drbg_init, mbedtls_ctr_drbg_free> drbg;
    Mbed<mbedtls_x509_crt, mbedtls_x509_crt_init, mbedtls_x509_crt_free> ca;
};

MinimalTlsClient::MinimalTlsClient(const std::string& caFile, TlsTuning tuning)
    : shared_(std::make_unique<Shared>()), tuning_(tuning) {
    checkTls(mbedtls_ctr_drbg_seed(&shared_->drbg.v, mbedtls_entropy_func, &shared_->entropy.v,
                                   nullptr, 0),
             "ctr_drbg_seed");
    checkTls(mbedtls_x509_crt_parse_file(&shared_->ca.v, caFile.c_str()), "x509_crt_parse_file");
}

MinimalTlsClient::~MinimalTlsClient() = default;

std::size_t MinimalTlsClient::get(const std::string& host, int port, const std::string& path) {
    // Declared first, freed last: the TLS context keeps pointers to both.
    Mbed<mbedtls_net_context, mbedtls_net_init, mbedtls_net_free> net;
    Mbed<mbedtls_ssl_config, mbedtls_ssl_config_init, mbedtls_ssl_config_free> conf;
    Mbed<mbedtls_ssl_context, mbedtls_ssl_init, mbedtls_ssl_free> ssl;

    checkTls(mbedtls_net_connect(&net.v, "127.0.0.1", std::to_string(port).c_str(),
                                 MBEDTLS_NET_PROTO_TCP),
             "net_connect");
    const int on = 1;
    if (tuning_.noDelay && setsockopt(net.v.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
        failErrno("TCP_NODELAY");
    checkTls(mbedtls_ssl_config_defaults(&conf.v, MBEDTLS_SSL_IS_CLIENT,
                                         MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT),
             "ssl_config_defaults");
    mbedtls_ssl_conf_authmode(&conf.v, MBEDTLS_SSL_VERIFY_REQUIRED);
    mbedtls_ssl_conf_ca_chain(&conf.v, &shared_->ca.v, nullptr);
    mbedtls_ssl_conf_rng(&conf.v, mbedtls_ctr_drbg_random, &shared_->drbg.v);
    mbedtls_ssl_conf_read_timeout(&conf.v, kTimeoutMs);
    static const mbedtls_ecp_group_id fastCurves[] = {
        MBEDTLS_ECP_DP_CURVE25519, MBEDTLS_ECP_DP_SECP256R1, MBEDTLS_ECP_DP_NONE};
    if (tuning_.fastCurves) mbedtls_ssl_conf_curves(&conf.v, fastCurves);
    checkTls(mbedtls_ssl_setup(&ssl.v, &conf.v), "ssl_setup");
    checkTls(mbedtls_ssl_set_hostname(&ssl.v, host.c_str()), "ssl_set_hostname");
    mbedtls_ssl_set_bio(&ssl.v, &net.v, mbedtls_net_send, nullptr, mbedtls_net_recv_timeout);

    int rc;
    while ((rc = mbedtls_ssl_handshake(&ssl.v)) == MBEDTLS_ERR_SSL_WANT_READ ||
           rc == MBEDTLS_ERR_SSL_WANT_WRITE) {
    }
    checkTls(rc, "ssl_handshake");

    const std::string text = request(host, path);
    for (std::size_t sent = 0; sent < text.size();) {
        rc = mbedtls_ssl_write(&ssl.v, reinterpret_cast<const unsigned char*>(text.data()) + sent,
                               text.size() - sent);
        if (rc == MBEDTLS_ERR_SSL_WANT_WRITE) continue;
        checkTls(rc, "ssl_write");
        sent += static_cast<std::size_t>(rc);
    }
    BodyCounter counter;
    unsigned char piece[1024];
    for (;;) {
        rc = mbedtls_ssl_read(&ssl.v, piece, sizeof piece);
        if (rc == MBEDTLS_ERR_SSL_WANT_READ) continue;
        if (rc == 0 || rc == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY) break;
        checkTls(rc, "ssl_read");
        counter.add(reinterpret_cast<const char*>(piece), static_cast<std::size_t>(rc));
    }
    return counter.body();
}

#ifdef HAVE_LIBCURL
std::size_t curlGet(const std::string& url, const std::string& caFile) {
    std::unique_ptr<CURL, void (*)(CURL*)> handle(curl_easy_init(), curl_easy_cleanup);
    if (!handle) throw std::runtime_error("curl_easy_init failed");
    std::size_t count = 0;
    auto sink = +[](char*, std::size_t size, std::size_t n, void* total) {
        *static_cast<std::size_t*>(total) += size * n;
        return size * n;
    };
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, sink);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &count);
    curl_easy_setopt(h, CURLOPT_IPRESOLVE, CURL_IPRESOLVE_V4);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kTimeoutMs));
    // No progress for 10 s ends the transfer, as a receive timeout ends ours.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kTimeoutMs / 1000));
    if (!caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, caFile.c_str());
    if (CURLcode rc = curl_easy_perform(h); rc != CURLE_OK)
        throw std::runtime_error(curl_easy_strerror(rc));
    return count;
}
#endif

}  // namespace bench
