#pragma once
// Blocking HTTP/1.1 client: one request per call on a fresh connection ("Connection:
// close"), TLS for https:// addresses. The outcome comes through the callbacks: onStatus
// once the response head is read, then onData with the body or onError with a message.
// Each is called through a copy, so it may replace itself or start the next request.
// requestUrl wraps it all: the body of a 200..399 answer, or the message thrown as text.
//
// This sits above sys/: it drives sys::net and sys::ssl sockets, and reads and writes
// only through their lumo::io streams.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "lumo/ds/StringMap.h"
#include "lumo/io/Bytes.h"
#include "lumo/io/Input.h"
#include "lumo/io/Output.h"
#include "util/List.h"

class EReg;

namespace sys::net {
class Socket;
}

namespace lumo {

class Http {
public:
    struct HeaderRecord {
        std::string header;
        std::string value;
    };
    struct ParamRecord {
        std::string param;
        std::string value;
    };
    // A file sent as multipart form data. size is the byte count announced; the upload
    // counts it down and ends early when io runs dry first (Eof); a read that gives 0
    // bytes fails the request with Error Blocked.
    struct FileRecord {
        std::string param;
        std::string filename;
        std::shared_ptr<io::Input> io;
        int size = 0;
        std::string mimeType;
    };
    struct ProxyRecord {
        std::string host;
        int port = 0;
    };

    // The largest response head accepted, in bytes (status line, fields, blank line).
    static constexpr int kMaxHeadLength = 64 * 1024;

    // Every request goes to this proxy when set (process-wide).
    static std::optional<ProxyRecord> PROXY;

    explicit Http(std::string url);
    // request leaves a wrapper in onError that refers to this object.
    Http(const Http&) = delete;
    Http& operator=(const Http&) = delete;

    // GET of url: the response body, or the error message thrown as runtime::ThrownMessage.
    static std::string requestUrl(const std::string& url);

    // The request into memory; the body reaches onData and responseData. An absent post
    // counts as false.
    void request(std::optional<bool> post = std::nullopt);
    // The request with its body written to output. socket, when given, is used whatever
    // the scheme; method, when given, replaces the method word. Refused through onError
    // before connecting, as they would break the request's framing or its address: a port
    // outside 1..65535 or a path holding spaces or control bytes ("Invalid URL"), a method
    // that is not a token, a header record whose name is not a token or whose value holds
    // CR, LF or NUL, and, on a request with a body, a Content-Length or Transfer-Encoding
    // record (this client frames the body itself).
    void customRequest(bool post, io::Output& output, sys::net::Socket* socket = nullptr,
                       const std::optional<std::string>& method = std::nullopt);

    // Reads one response from socket.input: head, then the body by its framing into
    // output, every byte of it; none for a HEAD request or a 1xx, 204 or 304 answer.
    // Throws "Response status error", "Transfer aborted", "Http Error #<status>", a head
    // over kMaxHeadLength, whatever the streams throw, and Error Blocked when output takes
    // nothing.
    void readHttpResponse(io::Output& output, sys::net::Socket& socket, bool headRequest = false);
    // Consumes the first count bytes of buffer as chunked coding; true asks for more.
    // An unreadable size line goes to onError("Invalid chunk") and returns false.
    bool readChunk(EReg& pattern, io::Output& output, const io::Bytes& buffer, int count);

    std::string url;
    std::optional<std::string> responseData;
    bool noShutdown = false;
    double cnxTimeout = 10.0;  // bounds each wait, from the connect to the last read
    std::optional<ds::StringMap<std::string>> responseHeaders;
    std::optional<int> chunk_size;
    std::optional<io::Bytes> chunk_buf;
    std::optional<FileRecord> file;
    std::optional<std::string> postData;
    List<HeaderRecord> headers;
    List<ParamRecord> params;

    std::function<void(const std::string&)> onData;
    std::function<void(const std::string&)> onError;
    std::function<void(int)> onStatus;

private:
    // What request() leaves in onError, in Http.cpp.
    struct ErrorWrapper;
    // Calls onError through a copy, so that it may replace itself or start the next request.
    void reportError(const std::string& message);

    // Request composition, in HttpRequest.cpp; the response reading is in HttpResponse.cpp.
    static std::string makeBoundary();
    std::optional<std::string> framingFault(const std::string& path,
                                            const std::optional<std::string>& method,
                                            bool withBody) const;
    std::string composeRequest(bool post, const std::string& host, int port, const std::string& path,
                               const std::optional<std::string>& method, const std::string& boundary);
    // The file's bytes, then the closing boundary.
    void sendFile(sys::net::Socket& socket, const std::string& boundary);
};

}  // namespace lumo
