// Whatever the address, method, parameters, header records and body, lumo::Http either
// refuses the request with a message or sends one request line, fields, the blank line
// and a body of exactly the length it announces (a request without a body carries a
// caller's framing records as given). The socket records what it is given.
//
// Input: a flags byte (bit 0 post, bit 1 a method, bit 2 a body), then NUL-separated
// parts: the address, the method, the body, then name and value pairs, a name starting
// with '?' a parameter, any other a header record.
//
// Requests go through a proxy at a literal address: that form holds everything the direct
// one does, and keeps the address' host name from being looked up.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "http/Http.h"
#include "lumo/io/BytesOutput.h"
#include "support/PiecesInput.h"
#include "sys/net/Socket.h"
#include "util/StringTools.h"

namespace {

class RecordingSocket : public sys::net::Socket {
public:
    RecordingSocket() {
        input = std::make_unique<testsupport::PiecesInput>("HTTP/1.1 204 No Content\r\n\r\n",
                                                           std::vector<int>{});
    }
    void connect(const sys::net::Host&, int) override {}
    void write(const std::string& content) override { sent += content; }
    std::string sent;
};

void check(bool ok) {
    if (!ok) std::abort();
}

// framed: the client sends a body and frames it itself; without one, a caller's own
// Content-Length or Transfer-Encoding record is sent as given, and only the absence of a
// body is checked.
void checkFraming(const std::string& sent, const std::string& methodWord, bool framed) {
    std::size_t headEnd = sent.find("\r\n\r\n");
    check(headEnd != std::string::npos);
    std::vector<std::string> lines = StringTools::split(sent.substr(0, headEnd), "\r\n");
    for (const std::string& line : lines) check(line.find_first_of("\r\n") == std::string::npos);
    const std::string& requestLine = lines.front();
    check(requestLine.rfind(methodWord + " ", 0) == 0 &&
          StringTools::endsWith(requestLine, " HTTP/1.1"));
    check(std::count(requestLine.begin(), requestLine.end(), ' ') == 2);
    std::size_t body = sent.size() - headEnd - 4;
    bool announced = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::size_t colon = lines[i].find(": ");
        check(colon != std::string::npos && colon > 0);
        std::string name = lines[i].substr(0, colon);
        check(name.find_first_of(" \t:") == std::string::npos);
        if (!framed) continue;
        if (StringTools::toLowerCase(name) == "content-length") {
            check(lines[i].substr(colon + 2) == std::to_string(body));
            announced = true;
        }
        check(StringTools::toLowerCase(name) != "transfer-encoding");
    }
    check(framed ? announced || body == 0 : body == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<std::string> parts = StringTools::split(
        std::string(reinterpret_cast<const char*>(data + 1), size - 1), std::string(1, '\0'));
    parts.resize(std::max<std::size_t>(parts.size(), 3));
    bool post = data[0] & 1;
    std::optional<std::string> method =
        data[0] & 2 ? std::optional<std::string>(parts[1]) : std::nullopt;

    lumo::Http::PROXY = lumo::Http::ProxyRecord{"127.0.0.1", 3128};
    lumo::Http h(parts[0]);
    if (data[0] & 4) h.postData = parts[2];
    for (std::size_t i = 3; i + 1 < parts.size(); i += 2) {
        if (!parts[i].empty() && parts[i][0] == '?') {
            h.params.add({parts[i].substr(1), parts[i + 1]});
        } else {
            h.headers.add({parts[i], parts[i + 1]});
        }
    }
    std::vector<std::string> errors;
    h.onError = [&errors](const std::string& message) { errors.push_back(message); };
    RecordingSocket socket;
    lumo::io::BytesOutput body;
    h.customRequest(post, body, &socket, method);
    if (socket.sent.empty()) {
        check(!errors.empty());
    } else {
        bool framed = h.postData || (post && h.params.length() > 0);
        checkFraming(socket.sent, method.value_or(post ? "POST" : "GET"), framed);
    }
    return 0;
}
