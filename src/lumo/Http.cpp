#include "lumo/Http.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "lumo/io/BytesBuffer.h"
#include "lumo/io/BytesOutput.h"
#include "lumo/io/Eof.h"
#include "runtime/Thrown.h"
#include "sys/net/Host.h"
#include "sys/net/Socket.h"
#include "sys/ssl/Socket.h"
#include "util/EReg.h"
#include "util/Std.h"
#include "util/StringBuf.h"
#include "util/StringTools.h"

namespace lumo {

std::optional<Http::ProxyRecord> Http::PROXY;

namespace {

constexpr int kBodyPiece = 1024;
constexpr int kMaxSizeLineFragment = 10;

// Four random numbers below 1000, padded in front with dashes to 38 characters.
std::string makeBoundary() {
    std::string digits;
    for (int i = 0; i < 4; ++i) digits += std::to_string(Std::random(1000));
    return std::string(38 - digits.size(), '-') + digits;
}

std::string multipartPrefix(const List<Http::ParamRecord>& params, const Http::FileRecord& file,
                            const std::string& boundary) {
    StringBuf b;
    for (const Http::ParamRecord& p : params) {
        b.add("--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + p.param + "\"\r\n\r\n" + p.value +
              "\r\n");
    }
    b.add("--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + file.param + "\"; filename=\"" +
          file.filename + "\"\r\nContent-Type: " + file.mimeType + "\r\n\r\n");
    return b.toString();
}

std::optional<std::string> urlEncodedParams(const List<Http::ParamRecord>& params) {
    std::optional<std::string> text;
    for (const Http::ParamRecord& p : params) {
        text = text ? *text + "&" : "";
        *text += StringTools::urlEncode(p.param) + "=" + StringTools::urlEncode(p.value);
    }
    return text;
}

bool hasHeader(const List<Http::HeaderRecord>& headers, const std::string& name) {
    for (const Http::HeaderRecord& h : headers) {
        if (h.header == name) return true;
    }
    return false;
}

// RFC 9110 5.6.2: token = 1*tchar.
bool isToken(std::string_view s) {
    constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
    return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || kSymbols.find(c) != std::string_view::npos;
    });
}

// Why the request could not be framed as one request line, fields and a body of the
// announced length: a line break smuggled into the line or a field, or, on a request with
// a body, a framing field of the caller's, which the length this client announces would
// contradict. Without a body the caller's fields are sent as they are.
std::optional<std::string> framingFault(const std::string& path, const std::optional<std::string>& method,
                                        const List<Http::HeaderRecord>& headers, bool withBody) {
    auto unsafe = [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7F'; };
    if (std::any_of(path.begin(), path.end(), unsafe)) return "Invalid URL";
    if (method && !isToken(*method)) return "Invalid method: " + *method;
    for (const Http::HeaderRecord& h : headers) {
        // RFC 9110 5.5: a field value holds no CR, LF or NUL.
        if (!isToken(h.header) || h.value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            return "Invalid header field: " + h.header;
        }
        std::string name = StringTools::toLowerCase(h.header);
        if (withBody && (name == "content-length" || name == "transfer-encoding")) {
            return "Header field set by the client: " + h.header;
        }
    }
    return std::nullopt;
}

// What may follow the head read so far: a read never takes a byte past the blank line.
int nextHeadReadSize(std::string_view head) {
    if (StringTools::endsWith(head, "\r\n\r\n")) return 0;
    if (StringTools::endsWith(head, "\r\n\r")) return 1;
    if (StringTools::endsWith(head, "\r\n")) return 2;
    if (StringTools::endsWith(head, "\r")) return 3;
    return 4;
}

}  // namespace

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

void Http::request(std::optional<bool> post) {
    // The wrapper outlives this call (it stays in onError after a success), so what it
    // refers to is shared with it rather than living on this frame. Once its request has
    // finished it only passes a later request's message on: the body is that request's.
    struct Pending {
        io::BytesOutput sink;
        bool failed = false;
        bool finished = false;
        std::function<void(const std::string&)> previous;
    };
    auto pending = std::make_shared<Pending>();
    pending->previous = onError;
    onError = [this, pending](const std::string& message) {
        Http* self = this;
        std::shared_ptr<Pending> state = pending;  // this closure dies when onError is replaced
        if (state->finished) {
            state->previous(message);
            return;
        }
        self->responseData = state->sink.getBytes().toString();
        state->failed = true;
        self->onError = state->previous;
        self->onError(message);
    };
    try {
        customRequest(post.value_or(false), pending->sink);
    } catch (...) {
        pending->finished = true;
        throw;
    }
    pending->finished = true;
    if (!pending->failed) {
        auto deliver = onData;
        responseData = pending->sink.getBytes().toString();
        deliver(*responseData);
    }
}

std::string Http::composeRequest(bool post, const std::string& host, int port, const std::string& path,
                                 const std::optional<std::string>& method, const std::string& boundary) {
    std::optional<std::string> paramText =
        file ? std::optional<std::string>(multipartPrefix(params, *file, boundary)) : urlEncodedParams(params);
    StringBuf b;
    b.add(method ? *method + " " : post ? "POST " : "GET ");
    if (PROXY) {
        b.add("http://");
        b.add(host);
        if (port != 80) {
            b.add(":");
            b.add(std::to_string(port));
        }
    }
    b.add(path);
    if (!post && paramText) {
        b.add(path.find('?') != std::string::npos ? "&" : "?");
        b.add(*paramText);
    }
    b.add(" HTTP/1.1\r\nHost: " + host + "\r\n");
    if (postData) {
        b.add("Content-Length: " + std::to_string(postData->size()) + "\r\n");
    } else if (post && paramText) {
        if (file || !hasHeader(headers, "Content-Type")) {
            b.add("Content-Type: ");
            b.add(file ? "multipart/form-data; boundary=" + boundary : "application/x-www-form-urlencoded");
            b.add("\r\n");
        }
        std::int64_t length = static_cast<std::int64_t>(paramText->size());
        if (file) length += file->size + static_cast<std::int64_t>(boundary.size()) + 6;
        b.add("Content-Length: " + std::to_string(length) + "\r\n");
    }
    b.add("Connection: close\r\n");
    for (const HeaderRecord& h : headers) {
        b.add(h.header + ": " + h.value + "\r\n");
    }
    b.add("\r\n");
    if (postData) {
        b.add(*postData);
    } else if (post && paramText) {
        b.add(*paramText);
    }
    return b.toString();
}

void Http::sendFile(sys::net::Socket& socket) {
    io::Bytes buffer = io::Bytes::alloc(4096);
    while (file->size > 0) {
        int count = 0;
        try {
            count = file->io->readBytes(buffer, 0, std::min(4096, file->size));
        } catch (const io::Eof&) {
            break;
        }
        socket.output->writeFullBytes(buffer, 0, count);
        file->size -= count;
    }
}

void Http::customRequest(bool post, io::Output& output, sys::net::Socket* socket,
                         const std::optional<std::string>& method) {
    responseData.reset();
    EReg address("^(https?://)?([a-zA-Z\\.0-9_-]+)(:[0-9]+)?(.*)$", "");
    if (!address.match(url)) {
        onError("Invalid URL");
        return;
    }
    std::optional<std::string> pathText = address.matched(4);
    std::string path = pathText && !pathText->empty() ? *pathText : std::string("/");
    // The body composeRequest writes: postData, a file upload, or a POST's parameters.
    bool withBody = postData || file || (post && params.length() > 0);
    if (std::optional<std::string> fault = framingFault(path, method, headers, withBody)) {
        onError(*fault);
        return;
    }
    bool secure = address.matched(1) == "https://";
    std::unique_ptr<sys::net::Socket> owned;
    if (socket == nullptr) {
        owned = secure ? std::make_unique<sys::ssl::Socket>() : std::make_unique<sys::net::Socket>();
        socket = owned.get();
    }
    std::string host = address.matched(2).value_or("");
    std::optional<std::string> portText = address.matched(3);
    std::optional<int> port = !portText || portText->empty() ? std::optional<int>(secure ? 443 : 80)
                                                             : Std::parseInt(std::string_view(*portText).substr(1));
    std::string boundary;
    if (file) {
        post = true;
        boundary = makeBoundary();
    }
    std::string requestText = composeRequest(post, host, port.value_or(0), path, method, boundary);

    try {
        if (PROXY) {
            socket->connect(sys::net::Host(PROXY->host), PROXY->port);
        } else {
            socket->connect(sys::net::Host(host), port.value_or(0));
        }
        socket->write(requestText);
        if (file) {
            sendFile(*socket);
            for (const std::string& piece : {std::string("\r\n"), std::string("--"), boundary, std::string("--")}) {
                socket->write(piece);
            }
        }
        readHttpResponse(output, *socket);
        socket->close();
    } catch (const runtime::Thrown& e) {
        try {
            socket->close();
        } catch (const runtime::Thrown&) {
        }
        onError(Std::string(e));
    }
}

void Http::readHttpResponse(io::Output& output, sys::net::Socket& socket) {
    std::string head;
    io::Bytes scratch = io::Bytes::alloc(4);
    socket.setTimeout(cnxTimeout);
    for (int want = 4; want > 0;) {
        for (int got = 0; got < want;) got += socket.input->readBytes(scratch, got, want - got);
        head += scratch.getString(0, want);
        want = nextHeadReadSize(head);
        // A peer that never ends its head must not fill memory.
        if (want > 0 && head.size() >= static_cast<std::size_t>(kMaxHeadLength)) {
            throw runtime::ThrownMessage("Response head longer than " + std::to_string(kMaxHeadLength) +
                                         " bytes");
        }
    }

    std::vector<std::string> lines = StringTools::split(head, "\r\n");
    std::vector<std::string> statusLine = StringTools::split(lines.front(), " ");
    Std::IntReading reading =
        statusLine.size() > 1 ? Std::readInt(statusLine[1]) : Std::IntReading();
    // A status past the Int range would wrap, possibly into a success.
    if (!reading.value || *reading.value <= 0 || reading.overflow) {
        throw runtime::ThrownMessage("Response status error");
    }
    int status = *reading.value;
    lines.erase(lines.begin());
    lines.resize(lines.size() - 2);

    std::optional<int> length;
    bool chunked = false;
    responseHeaders.emplace();
    for (const std::string& line : lines) {
        std::vector<std::string> pieces = StringTools::split(line, ": ");
        std::string name = pieces.front();
        pieces.erase(pieces.begin());
        std::string value = StringTools::ltrim(StringTools::rtrim(StringTools::join(pieces, ": ")));
        responseHeaders->set(name, value);
        std::string lower = StringTools::toLowerCase(name);
        if (lower == "content-length") {
            // Wrapping would read a different length than the peer announced.
            Std::IntReading stated = Std::readInt(value);
            if (stated.overflow) throw runtime::ThrownMessage("Invalid Content-Length: " + value);
            length = stated.value;
        } else if (lower == "transfer-encoding") {
            chunked = StringTools::toLowerCase(value) == "chunked";
        }
    }
    onStatus(status);

    EReg sizeLine("^([0-9A-Fa-f]+)[ ]*\r\n", "m");
    chunk_size.reset();
    chunk_buf.reset();
    io::Bytes body = io::Bytes::alloc(kBodyPiece);
    if (chunked) {
        try {
            while (readChunk(sizeLine, output, body, socket.input->readBytes(body, 0, kBodyPiece))) {
            }
        } catch (const io::Eof&) {
            throw runtime::ThrownMessage("Transfer aborted");
        }
    } else if (!length) {
        if (!noShutdown) socket.shutdown(false, true);
        try {
            for (;;) output.writeBytes(body, 0, socket.input->readBytes(body, 0, kBodyPiece));
        } catch (const io::Eof&) {
        }
    } else {
        int remaining = *length;
        output.prepare(remaining);
        try {
            while (remaining > 0) {
                int n = socket.input->readBytes(body, 0, std::min(remaining, kBodyPiece));
                output.writeBytes(body, 0, n);
                remaining -= n;
            }
        } catch (const io::Eof&) {
            throw runtime::ThrownMessage("Transfer aborted");
        }
    }

    if (status < 200 || status >= 400) {
        throw runtime::ThrownMessage("Http Error #" + std::to_string(status));
    }
    output.close();
}

bool Http::readChunk(EReg& pattern, io::Output& output, const io::Bytes& buffer, int count) {
    if (!chunk_size) {
        const io::Bytes* data = &buffer;
        io::Bytes joined = io::Bytes::alloc(0);
        if (chunk_buf) {
            io::BytesBuffer b;
            b.addBytes(*chunk_buf, 0, chunk_buf->length());
            b.addBytes(buffer, 0, count);
            count += chunk_buf->length();
            joined = b.getBytes();
            data = &joined;
            chunk_buf.reset();
        }
        // The pattern is multi-line, so only a match at the very start is a size line.
        if (pattern.match(data->getString(0, count)) && pattern.matchedPos()->pos == 0) {
            std::string digits = *pattern.matched(1);
            // RFC 9112 7.1: chunk-size = 1*HEXDIG; one that does not fit a non-negative Int
            // would turn negative or wrap.
            Std::IntReading size = Std::readInt("0x" + digits);
            if (size.overflow) {
                onError("Invalid chunk");
                return false;
            }
            chunk_size = *size.value;
            if (digits == "0") {
                chunk_size.reset();
                chunk_buf.reset();
                return false;
            }
            int lineLength = pattern.matchedPos()->len;
            count -= lineLength;
            return readChunk(pattern, output, data->sub(lineLength, count), count);
        }
        if (count > kMaxSizeLineFragment) {
            onError("Invalid chunk");
            return false;
        }
        chunk_buf = data->sub(0, count);
        return true;
    }

    if (*chunk_size > count) {
        *chunk_size -= count;
        output.writeBytes(buffer, 0, count);
        return true;
    }
    int end = *chunk_size + 2;
    if (count >= end) {
        if (*chunk_size > 0) output.writeBytes(buffer, 0, *chunk_size);
        count -= end;
        chunk_size.reset();
        return count == 0 || readChunk(pattern, output, buffer.sub(end, count), count);
    }
    if (*chunk_size > 0) output.writeBytes(buffer, 0, *chunk_size);
    *chunk_size -= count;
    return true;
}

}  // namespace lumo
