// Request composition: the request head and a form body, composed whole before anything
// is sent, and the refusals that keep a request framed as one request.
#include <algorithm>
#include <cctype>
#include <cstdint>

#include "http/Http.h"
#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"
#include "sys/net/Socket.h"
#include "util/Std.h"
#include "util/StringBuf.h"
#include "util/StringTools.h"

namespace lumo {

namespace {

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

}  // namespace

// Four random numbers below 1000, padded in front with dashes to 38 characters.
std::string Http::makeBoundary() {
    std::string digits;
    for (int i = 0; i < 4; ++i) digits += std::to_string(Std::random(1000));
    return std::string(38 - digits.size(), '-') + digits;
}

// Why the request could not be framed as one request line, fields and a body of the
// announced length: a line break smuggled into the line or a field, or, on a request with
// a body, a framing field of the caller's, which the length this client announces would
// contradict. Without a body the caller's fields are sent as they are.
std::optional<std::string> Http::framingFault(const std::string& path,
                                             const std::optional<std::string>& method,
                                             bool withBody) const {
    auto unsafe = [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7F'; };
    if (std::any_of(path.begin(), path.end(), unsafe)) return "Invalid URL";
    if (method && !isToken(*method)) return "Invalid method: " + *method;
    for (const HeaderRecord& h : headers) {
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

void Http::sendFile(sys::net::Socket& socket, const std::string& boundary) {
    io::Bytes buffer = io::Bytes::alloc(4096);
    while (file->size > 0) {
        int count = 0;
        try {
            count = file->io->readBytes(buffer, 0, std::min(4096, file->size));
        } catch (const io::Eof&) {
            break;
        }
        // An input that gives nothing would be asked again for ever.
        if (count == 0) throw io::Error::Blocked();
        socket.output->writeFullBytes(buffer, 0, count);
        file->size -= count;
    }
    for (const std::string& piece : {std::string("\r\n"), std::string("--"), boundary, std::string("--")}) {
        socket.write(piece);
    }
}

}  // namespace lumo
