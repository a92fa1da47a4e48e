// Response reading: the head, its status and fields, and the body by its framing
// (chunked, stated length, or to the close), with the chunk decoder. An output may take
// fewer bytes a call than offered, so every piece goes out through writeFullBytes.
#include <algorithm>

#include "http/Http.h"
#include "lumo/io/BytesBuffer.h"
#include "lumo/io/Eof.h"
#include "runtime/Thrown.h"
#include "sys/net/Socket.h"
#include "util/EReg.h"
#include "util/Std.h"
#include "util/StringTools.h"

namespace lumo {

namespace {

constexpr int kBodyPiece = 1024;
constexpr int kMaxSizeLineFragment = 10;

// What may follow the head read so far: a read never takes a byte past the blank line.
int nextHeadReadSize(std::string_view head) {
    if (StringTools::endsWith(head, "\r\n\r\n")) return 0;
    if (StringTools::endsWith(head, "\r\n\r")) return 1;
    if (StringTools::endsWith(head, "\r\n")) return 2;
    if (StringTools::endsWith(head, "\r")) return 3;
    return 4;
}

// The head through its blank line, bounded by Http::kMaxHeadLength.
std::string readHead(io::Input& input, io::Bytes& scratch) {
    std::string head;
    for (int want = 4; want > 0;) {
        for (int got = 0; got < want;) got += input.readBytes(scratch, got, want - got);
        head += scratch.getString(0, want);
        want = nextHeadReadSize(head);
        // A peer that never ends its head must not fill memory.
        if (want > 0 && head.size() >= static_cast<std::size_t>(Http::kMaxHeadLength)) {
            throw runtime::ThrownMessage("Response head longer than " +
                                         std::to_string(Http::kMaxHeadLength) + " bytes");
        }
    }
    return head;
}

int statusOf(const std::string& line) {
    std::vector<std::string> statusLine = StringTools::split(line, " ");
    Std::IntReading reading =
        statusLine.size() > 1 ? Std::readInt(statusLine[1]) : Std::IntReading();
    // A status past the Int range would wrap, possibly into a success.
    if (!reading.value || *reading.value <= 0 || reading.overflow) {
        throw runtime::ThrownMessage("Response status error");
    }
    return *reading.value;
}

struct Framing {
    std::optional<int> length;
    bool chunked = false;
};

// Every field into fields, and the body's framing as they state it.
Framing readFields(const std::vector<std::string>& lines, ds::StringMap<std::string>& fields) {
    Framing framing;
    for (const std::string& line : lines) {
        std::vector<std::string> pieces = StringTools::split(line, ": ");
        std::string name = pieces.front();
        pieces.erase(pieces.begin());
        std::string value = StringTools::ltrim(StringTools::rtrim(StringTools::join(pieces, ": ")));
        fields.set(name, value);
        std::string lower = StringTools::toLowerCase(name);
        if (lower == "content-length") {
            // Wrapping would read a different length than the peer announced.
            Std::IntReading stated = Std::readInt(value);
            if (stated.overflow) throw runtime::ThrownMessage("Invalid Content-Length: " + value);
            framing.length = stated.value;
        } else if (lower == "transfer-encoding") {
            framing.chunked = StringTools::toLowerCase(value) == "chunked";
        }
    }
    return framing;
}

void readToClose(io::Input& input, io::Output& output, io::Bytes& body) {
    try {
        for (;;) output.writeFullBytes(body, 0, input.readBytes(body, 0, kBodyPiece));
    } catch (const io::Eof&) {
    }
}

void readStatedLength(io::Input& input, io::Output& output, io::Bytes& body, int length) {
    int remaining = length;
    output.prepare(remaining);
    try {
        while (remaining > 0) {
            int n = input.readBytes(body, 0, std::min(remaining, kBodyPiece));
            output.writeFullBytes(body, 0, n);
            remaining -= n;
        }
    } catch (const io::Eof&) {
        throw runtime::ThrownMessage("Transfer aborted");
    }
}

}  // namespace

void Http::readHttpResponse(io::Output& output, sys::net::Socket& socket, bool headRequest) {
    io::Bytes scratch = io::Bytes::alloc(4);
    socket.setTimeout(cnxTimeout);
    std::vector<std::string> lines = StringTools::split(readHead(*socket.input, scratch), "\r\n");
    int status = statusOf(lines.front());
    lines.erase(lines.begin());
    lines.resize(lines.size() - 2);
    responseHeaders.emplace();
    Framing framing = readFields(lines, *responseHeaders);
    auto reportStatus = onStatus;  // which may replace itself
    reportStatus(status);

    EReg sizeLine("^([0-9A-Fa-f]+)[ ]*\r\n", "m");
    chunk_size.reset();
    chunk_buf.reset();
    io::Bytes body = io::Bytes::alloc(kBodyPiece);
    if (headRequest || (status >= 100 && status < 200) || status == 204 || status == 304) {
        // RFC 9110 6.4.1: these answers end with their head, whatever their fields state.
    } else if (framing.chunked) {
        try {
            while (readChunk(sizeLine, output, body, socket.input->readBytes(body, 0, kBodyPiece))) {
            }
        } catch (const io::Eof&) {
            throw runtime::ThrownMessage("Transfer aborted");
        }
    } else if (!framing.length) {
        if (!noShutdown) socket.shutdown(false, true);
        readToClose(*socket.input, output, body);
    } else {
        readStatedLength(*socket.input, output, body, *framing.length);
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
                reportError("Invalid chunk");
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
            reportError("Invalid chunk");
            return false;
        }
        chunk_buf = data->sub(0, count);
        return true;
    }

    if (*chunk_size > count) {
        *chunk_size -= count;
        output.writeFullBytes(buffer, 0, count);
        return true;
    }
    int end = *chunk_size + 2;
    if (count >= end) {
        if (*chunk_size > 0) output.writeFullBytes(buffer, 0, *chunk_size);
        count -= end;
        chunk_size.reset();
        return count == 0 || readChunk(pattern, output, buffer.sub(end, count), count);
    }
    if (*chunk_size > 0) output.writeFullBytes(buffer, 0, *chunk_size);
    *chunk_size -= count;
    return true;
}

}  // namespace lumo
