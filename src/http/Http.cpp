#include "http/Http.h"

#include "lumo/io/BytesOutput.h"
#include "runtime/Thrown.h"
#include "sys/net/Host.h"
#include "sys/net/Socket.h"
#include "sys/ssl/Socket.h"
#include "util/EReg.h"
#include "util/Std.h"

namespace lumo {

namespace {

// The address's port, the scheme's own when it names none; absent when it is outside
// 1..65535, which the socket's 16 bits (or the Int reading) would wrap into another.
std::optional<int> portOf(const std::optional<std::string>& text, bool secure) {
    if (!text || text->empty()) return secure ? 443 : 80;
    Std::IntReading port = Std::readInt(std::string_view(*text).substr(1));
    if (port.overflow || port.value < 1 || port.value > 65535) return std::nullopt;
    return port.value;
}

}  // namespace

std::optional<Http::ProxyRecord> Http::PROXY;

Http::Http(std::string url)
    : url(std::move(url)),
      onData([](const std::string&) {}),
      onError([](const std::string&) {}),
      onStatus([](int) {}) {}

std::string Http::requestUrl(const std::string& url) {
    Http h(url);
    std::string result;
    h.onData = [&result](const std::string& data) { result = data; };
    h.onError = [](const std::string& message) { throw runtime::ThrownMessage(message); };
    h.request(false);
    return result;
}

// What request() leaves in onError. Once its request has finished it only passes a later
// message on (the body is that request's), so the next request takes the function it
// wraps instead of wrapping it: however many requests the object makes, an error runs
// through one wrapper and the object's end releases one.
struct Http::ErrorWrapper {
    struct State {
        io::BytesOutput sink;
        bool failed = false;
        bool finished = false;
        std::function<void(const std::string&)> previous;
    };
    Http* self;
    std::shared_ptr<State> state;

    void operator()(const std::string& message) const {
        Http* h = self;
        std::shared_ptr<State> s = state;  // this wrapper dies when onError is replaced
        if (!s->finished) {
            h->responseData = s->sink.getBytes().toString();
            s->failed = true;
        }
        auto previous = s->previous;  // through a copy: it may replace onError in turn
        h->onError = previous;
        previous(message);
    }
};

void Http::request(std::optional<bool> post) {
    auto state = std::make_shared<ErrorWrapper::State>();
    const ErrorWrapper* last = onError.target<ErrorWrapper>();
    state->previous =
        last && last->self == this && last->state->finished ? last->state->previous : onError;
    onError = ErrorWrapper{this, state};
    try {
        customRequest(post.value_or(false), state->sink);
    } catch (...) {
        state->finished = true;
        throw;
    }
    state->finished = true;
    if (!state->failed) {
        auto deliver = onData;
        responseData = state->sink.getBytes().toString();
        deliver(*responseData);
    }
}

void Http::reportError(const std::string& message) {
    auto report = onError;  // which may replace itself, or start the next request
    report(message);
}

void Http::customRequest(bool post, io::Output& output, sys::net::Socket* socket,
                         const std::optional<std::string>& method) {
    responseData.reset();
    EReg address("^(https?://)?([a-zA-Z\\.0-9_-]+)(:[0-9]+)?(.*)$", "");
    bool matched = address.match(url);
    bool secure = matched && address.matched(1) == "https://";
    std::optional<int> port = matched ? portOf(address.matched(3), secure) : std::nullopt;
    if (!port) {
        reportError("Invalid URL");
        return;
    }
    std::optional<std::string> pathText = address.matched(4);
    std::string path = pathText && !pathText->empty() ? *pathText : std::string("/");
    // The body composeRequest writes: postData, a file upload, or a POST's parameters.
    bool withBody = postData || file || (post && params.length() > 0);
    if (std::optional<std::string> fault = framingFault(path, method, withBody)) {
        reportError(*fault);
        return;
    }
    std::unique_ptr<sys::net::Socket> owned;
    if (socket == nullptr) {
        owned = secure ? std::make_unique<sys::ssl::Socket>() : std::make_unique<sys::net::Socket>();
        socket = owned.get();
    }
    std::string host = address.matched(2).value_or("");
    std::string boundary;
    if (file) {
        post = true;
        boundary = makeBoundary();
    }
    std::string requestText = composeRequest(post, host, *port, path, method, boundary);

    try {
        // From the start: the connect and the handshake wait no longer than the rest.
        // A socket the system refused is left for connect to report.
        if (socket->s_) socket->setTimeout(cnxTimeout);
        if (PROXY) {
            socket->connect(sys::net::Host(PROXY->host), PROXY->port);
        } else {
            socket->connect(sys::net::Host(host), *port);
        }
        socket->write(requestText);
        if (file) sendFile(*socket, boundary);
        readHttpResponse(output, *socket, method == "HEAD");
        socket->close();
    } catch (const runtime::Thrown& e) {
        try {
            socket->close();
        } catch (const runtime::Thrown&) {
        }
        reportError(Std::string(e));
    }
}

}  // namespace lumo
