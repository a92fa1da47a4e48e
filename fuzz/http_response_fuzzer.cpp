// Any bytes, read in any piece sizes, either make a response whose body was written out
// or fail with a thrown value; nothing else (crash, sanitizer report, hang, unbounded
// memory) is acceptable. The first byte says how many of the following bytes are read
// sizes (at most 8); the rest is what the server sent.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/Http.h"
#include "lumo/io/BytesOutput.h"
#include "runtime/Thrown.h"
#include "support/PiecesInput.h"
#include "sys/net/Socket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t sizes = std::min<std::size_t>(data[0] % 9, size - 1);
    std::vector<int> pieces(data + 1, data + 1 + sizes);
    std::string reply(reinterpret_cast<const char*>(data + 1 + sizes), size - 1 - sizes);

    static sys::net::Socket socket;  // one unconnected handle: shutdown on it is harmless
    socket.input = std::make_unique<testsupport::PiecesInput>(std::move(reply), std::move(pieces));
    lumo::Http h("");
    h.onError = [](const std::string&) {};
    lumo::io::BytesOutput body;
    try {
        h.readHttpResponse(body, socket);
    } catch (const runtime::Thrown&) {
    }
    return 0;
}
