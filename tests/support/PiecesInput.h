#pragma once
// An in-memory input that hands out its bytes in pieces of chosen sizes, as a socket
// may, then throws Eof. Header-only so that the fuzz targets can use it without GTest.
#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "lumo/io/Eof.h"
#include "lumo/io/Input.h"

namespace testsupport {

class PiecesInput : public lumo::io::Input {
public:
    // Each read delivers at most the next size of `pieces` (cycled; empty means whole).
    PiecesInput(std::string data, std::vector<int> pieces) : data_(std::move(data)), pieces_(std::move(pieces)) {}

    int readBytes(lumo::io::Bytes& buf, int pos, int len) override {
        if (at_ >= data_.size() || len <= 0) throw lumo::io::Eof();
        std::size_t limit = pieces_.empty() ? data_.size() : static_cast<std::size_t>(std::max(1, pieces_[next_++ % pieces_.size()]));
        std::size_t n = std::min({limit, static_cast<std::size_t>(len), data_.size() - at_});
        std::copy_n(data_.data() + at_, n, buf.b() + pos);
        at_ += n;
        return static_cast<int>(n);
    }
    // How much is left unread: what a reader left for the next one.
    std::size_t remaining() const { return data_.size() - at_; }

private:
    std::string data_;
    std::vector<int> pieces_;
    std::size_t at_ = 0;
    std::size_t next_ = 0;
};

}  // namespace testsupport
