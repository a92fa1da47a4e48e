// One GET on a fresh connection against a local nginx, our client beside libcurl and the
// floors of http_peers.h: the latency of a 1 KB JSON answer over plain TCP and over TLS,
// and the throughput of a 64 MB body over plain TCP. Each request is timed alone and a
// row reports the median, which a stray process on the machine moves far less than the
// mean. Rows run a fixed number of requests, each bounded by a timeout, and a row that
// passes kRowBound stops with an error.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

#include "http/Http.h"
#include "http_peers.h"
#include "runtime/Thrown.h"
#include "support/Nginx.h"
#include "sys/ssl/Certificate.h"
#include "sys/ssl/Socket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSmall = 1024;
constexpr std::size_t kLarge = 64 << 20;
constexpr auto kRowBound = std::chrono::seconds(120);
// Requests per row and run: enough for a steady median, at most about ten seconds a row.
constexpr int kSmallRequests = 2000;
constexpr int kTlsRequests = 150;
constexpr int kLargeRequests = 20;

const std::string kSmallPath = "/small.json";
const std::string kLargePath = "/large.bin";

// A 1024-byte JSON answer: a few fields and a long description.
std::string smallJson() {
    const std::string head =
        R"({"id":42,"status":"Live","viewers":1337,"title":"Evening stream","description":")";
    const std::string tail = "\"}";
    return head + std::string(kSmall - head.size() - tail.size(), 'x') + tail;
}

// nginx with the two bodies in its root; our client trusts its test CA.
struct Site {
    testsupport::Nginx nginx;

    Site() {
        testsupport::writeFile((nginx.root() / kSmallPath.substr(1)).string(), smallJson());
        testsupport::writeFile((nginx.root() / kLargePath.substr(1)).string(),
                               std::string(kLarge, 'v'));
        sys::ssl::Socket::DEFAULT_CA = sys::ssl::Certificate::loadFile(nginx.caFile());
    }
    std::string plain(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(nginx.httpPort()) + path;
    }
    std::string tls(const std::string& path) const {
        return "https://localhost:" + std::to_string(nginx.httpsPort()) + path;
    }
};

// Counts the body and keeps none of it, so that the 64 MB row measures the transfer, not
// the growth of a 64 MB buffer.
class Discard : public lumo::io::Output {
public:
    int writeBytes(const lumo::io::Bytes&, int, int len) override {
        count += static_cast<std::size_t>(len);
        return len;
    }
    std::size_t count = 0;
};

std::size_t oursIntoDiscard(const std::string& url) {
    lumo::Http http(url);
    http.onError = [](const std::string& message) { throw runtime::ThrownMessage(message); };
    Discard body;
    http.customRequest(false, body);
    return body.count;
}

enum class Report { Latency, Throughput };

template <typename Get>
void measure(benchmark::State& state, std::size_t expected, Report report, const Get& get) {
    std::vector<double> seconds;
    seconds.reserve(static_cast<std::size_t>(state.max_iterations));
    const auto deadline = Clock::now() + kRowBound;
    for (auto _ : state) {
        std::string problem;
        const auto start = Clock::now();
        try {
            if (std::size_t n = get(); n != expected) {
                problem =
                    "a body of " + std::to_string(n) + " bytes, not " + std::to_string(expected);
            }
        } catch (const runtime::Thrown& e) {
            problem = e.toString();
        } catch (const std::exception& e) {
            problem = e.what();
        }
        const auto end = Clock::now();
        if (problem.empty() && end > deadline) problem = "stopped at the row's time bound";
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            break;
        }
        seconds.push_back(std::chrono::duration<double>(end - start).count());
    }
    if (seconds.empty()) return;
    auto middle = seconds.begin() + static_cast<std::ptrdiff_t>(seconds.size() / 2);
    std::nth_element(seconds.begin(), middle, seconds.end());
    if (report == Report::Latency) {
        state.counters["median_us"] = *middle * 1e6;
    } else {
        state.counters["median_ms"] = *middle * 1e3;
        state.counters["MB/s"] = static_cast<double>(expected) / *middle / 1e6;
    }
}

template <typename Get>
void row(const std::string& name, int requests, std::size_t expected, Report report, Get get) {
    benchmark::RegisterBenchmark(
        name.c_str(), [=](benchmark::State& state) { measure(state, expected, report, get); })
        ->Iterations(requests)
        ->UseRealTime()
        ->Unit(report == Report::Latency ? benchmark::kMicrosecond : benchmark::kMillisecond);
}

struct MinimalTlsClients {
    bench::MinimalTlsClient defaults, noDelay, tuned;
    explicit MinimalTlsClients(const std::string& caFile)
        : defaults(caFile, {}),
          noDelay(caFile, {.noDelay = true}),
          tuned(caFile, {.noDelay = true, .fastCurves = true}) {}
};

void registerRows(const Site& site, MinimalTlsClients& minimal) {
    const int port = site.nginx.httpPort();
    const int tlsPort = site.nginx.httpsPort();
    const std::string ca = site.nginx.caFile();
    const std::string small = site.plain(kSmallPath);
    const std::string smallTls = site.tls(kSmallPath);
    const std::string large = site.plain(kLargePath);

    row("Get1K_Plain/ours", kSmallRequests, kSmall, Report::Latency,
        [=] { return lumo::Http::requestUrl(small).size(); });
#ifdef HAVE_LIBCURL
    row("Get1K_Plain/libcurl", kSmallRequests, kSmall, Report::Latency,
        [=] { return bench::curlGet(small, ""); });
#endif
    row("Get1K_Plain/raw_recv1024", kSmallRequests, kSmall, Report::Latency,
        [=] { return bench::rawGet(port, kSmallPath); });

    row("Get1K_Tls/ours", kTlsRequests, kSmall, Report::Latency,
        [=] { return lumo::Http::requestUrl(smallTls).size(); });
    row("Get1K_Tls/mbedtls_minimal", kTlsRequests, kSmall, Report::Latency,
        [=, &minimal] { return minimal.defaults.get("localhost", tlsPort, kSmallPath); });
    row("Get1K_Tls/mbedtls_minimal_nodelay", kTlsRequests, kSmall, Report::Latency,
        [=, &minimal] { return minimal.noDelay.get("localhost", tlsPort, kSmallPath); });
    row("Get1K_Tls/mbedtls_minimal_nodelay_x25519", kTlsRequests, kSmall, Report::Latency,
        [=, &minimal] { return minimal.tuned.get("localhost", tlsPort, kSmallPath); });
#ifdef HAVE_LIBCURL
    row("Get1K_Tls/libcurl", kTlsRequests, kSmall, Report::Latency,
        [=] { return bench::curlGet(smallTls, ca); });
#endif

    row("Get64M_Plain/ours", kLargeRequests, kLarge, Report::Throughput,
        [=] { return oursIntoDiscard(large); });
#ifdef HAVE_LIBCURL
    row("Get64M_Plain/libcurl", kLargeRequests, kLarge, Report::Throughput,
        [=] { return bench::curlGet(large, ""); });
#endif
    row("Get64M_Plain/raw_recv1024", kLargeRequests, kLarge, Report::Throughput,
        [=] { return bench::rawGet(port, kLargePath); });
}

}  // namespace

int main(int argc, char** argv) {
    // The mbedTLS floor writes with write(2): a server that closes early must not kill the run.
    std::signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        Site site;
        MinimalTlsClients minimal(site.nginx.caFile());
        registerRows(site, minimal);
        benchmark::RunSpecifiedBenchmarks();
    } catch (const runtime::Thrown& e) {
        std::fprintf(stderr, "http_bench: %s\n", e.toString().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "http_bench: %s\n", e.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
