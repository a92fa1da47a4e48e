#include "lumo/io/Bytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

#include "lumo/io/BytesBuffer.h"
#include "lumo/io/BytesOutput.h"
#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"
#include "lumo/io/Input.h"

using lumo::io::Bytes;
using lumo::io::Error;

namespace {
// Every allocation of this test program passes through the replacements below, which
// count those of kCounted bytes or more while counting is on: how often a buffer
// reallocates is seen without timing anything.
std::atomic<bool> counting{false};
std::atomic<int> largeAllocations{0};
constexpr std::size_t kCounted = 4096;

template <typename F>
int largeAllocationsOf(F f) {
    largeAllocations = 0;
    counting = true;
    f();
    counting = false;
    return largeAllocations;
}
}  // namespace

void* operator new(std::size_t size) {
    if (size >= kCounted && counting.load(std::memory_order_relaxed)) ++largeAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {
template <typename F>
void expectOutsideBounds(F f) {
    try {
        f();
        ADD_FAILURE() << "no error thrown";
    } catch (const Error& e) {
        EXPECT_EQ(e.toString(), "OutsideBounds");
    }
}
}  // namespace

TEST(Bytes, TextRoundTripsEveryOctet) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    Bytes b = Bytes::ofString(all);
    EXPECT_EQ(b.length(), 256);
    EXPECT_EQ(b.toString(), all);
    EXPECT_EQ(b.getString(10, 3), all.substr(10, 3));
    for (int pos : {0, 100, 256}) EXPECT_EQ(b.getString(pos, 0), "");
}

TEST(Bytes, RangesOutsideTheBufferAreRefused) {
    Bytes b = Bytes::ofString("hello");
    expectOutsideBounds([&] { b.getString(3, 3); });
    expectOutsideBounds([&] { b.getString(-1, 1); });
    expectOutsideBounds([&] { b.sub(0, 6); });
    expectOutsideBounds([&] { b.sub(1, -1); });
    expectOutsideBounds([&] { b.getString(1, 2147483647); });
    // A negative length reads back as given, and its text form is refused.
    Bytes negative = Bytes::alloc(-4);
    EXPECT_EQ(negative.length(), -4);
    expectOutsideBounds([&] { negative.toString(); });
}

TEST(Bytes, SubIsAnIndependentCopy) {
    Bytes b = Bytes::ofString("abc");
    Bytes copy = b.sub(0, b.length());
    copy.set(0, 'z');
    EXPECT_EQ(b.toString(), "abc");
    EXPECT_EQ(copy.toString(), "zbc");
    EXPECT_EQ(b.sub(1, 1).toString(), "b");
}

TEST(BytesBuffer, CollectsBytesAndRangesInOrder) {
    lumo::io::BytesBuffer buf;
    Bytes src = Bytes::ofString("0123456789");
    buf.addByte(0x141);  // low 8 bits only
    buf.addBytes(src, 2, 3);
    buf.addBytes(src, 10, 0);
    expectOutsideBounds([&] { buf.addBytes(src, 8, 3); });
    for (int i = 0; i < 10000; ++i) buf.addByte('x');
    EXPECT_EQ(buf.length(), 10004);
    EXPECT_EQ(buf.getBytes().getString(0, 5), "A234x");
}

TEST(BytesOutput, GathersWhatIsWritten) {
    lumo::io::BytesOutput empty;
    EXPECT_EQ(empty.getBytes().length(), 0);

    lumo::io::BytesOutput out;
    Bytes src = Bytes::ofString("abcdef");
    out.writeByte('>');
    EXPECT_EQ(out.writeBytes(src, 1, 4), 4);
    out.writeFullBytes(src, 5, 1);
    expectOutsideBounds([&] { out.writeBytes(src, 4, 3); });
    EXPECT_EQ(out.getBytes().toString(), ">bcdef");
}

namespace {
// Serves `pieces` reads of `piece` bytes each, then Eof.
class PieceInput : public lumo::io::Input {
public:
    PieceInput(int piece, int pieces) : piece_(piece), left_(pieces) {}
    int readBytes(Bytes&, int, int len) override {
        if (left_-- == 0) throw lumo::io::Eof();
        return std::min(len, piece_);
    }

private:
    int piece_;
    int left_;
};
}  // namespace

TEST(BytesBuffer, GrowsGeometricallyWhateverThePieceSize) {
    // 1024 pieces each time: growing by half again from the first counted allocation
    // takes about log(1024) / log(1.5) = 17 steps; growing to the exact size, one a piece.
    const int pieces = 1024;
    const int bound = static_cast<int>(std::ceil(std::log(pieces) / std::log(1.5))) + 3;
    for (int piece : {64, 65, 1024, 16384}) {
        Bytes chunk = Bytes::alloc(piece);
        lumo::io::BytesOutput out;
        int grown = largeAllocationsOf([&] {
            for (int i = 0; i < pieces; ++i) out.writeBytes(chunk, 0, piece);
        });
        EXPECT_LE(grown, bound) << "BytesOutput, pieces of " << piece;
        EXPECT_EQ(out.getBytes().length(), piece * pieces);

        PieceInput input(piece, pieces);
        Bytes all = Bytes::alloc(0);
        // readAll's own read buffer (16384 bytes) is one of the counted allocations.
        grown = largeAllocationsOf([&] { all = input.readAll(); });
        EXPECT_LE(grown, bound + 1) << "readAll, reads of " << piece;
        EXPECT_EQ(all.length(), piece * pieces);
    }
}

namespace {
template <typename F>
void expectOverflow(F f) {
    try {
        f();
        ADD_FAILURE() << "no error thrown";
    } catch (const Error& e) {
        EXPECT_EQ(e.toString(), "Overflow");
    }
}
}  // namespace

// Lengths are Int: a buffer never holds more than 2^31 - 1 bytes, and text longer than
// that is no Bytes. The buffer takes 2 GiB for a moment; it is fed in two large pieces,
// because first touching fresh memory is what costs here.
TEST(BytesBuffer, LengthsPastTheIntRangeThrowOverflow) {
    constexpr int kMax = std::numeric_limits<int>::max();
    {
        Bytes piece = Bytes::alloc(1 << 30);
        lumo::io::BytesBuffer buf;
        buf.addBytes(piece, 0, piece.length());
        buf.addBytes(piece, 0, piece.length() - 1);
        EXPECT_EQ(buf.length(), kMax);
        expectOverflow([&] { buf.addBytes(piece, 0, 1); });
        expectOverflow([&] { buf.addByte('x'); });
        expectOverflow([&] { buf.addBytes(piece, 0, piece.length()); });
        EXPECT_EQ(buf.length(), kMax);
        EXPECT_EQ(buf.getBytes().length(), kMax);
    }
    // Never touched: the length is refused before anything is copied.
    const std::size_t tooLong = std::size_t{1} << 31;
    auto text = std::make_unique_for_overwrite<char[]>(tooLong);
    expectOverflow([&] { Bytes::ofString(std::string_view(text.get(), tooLong)); });
}
