#include "lumo/io/Bytes.h"

#include <gtest/gtest.h>

#include "lumo/io/BytesBuffer.h"
#include "lumo/io/BytesOutput.h"
#include "lumo/io/Error.h"

using lumo::io::Bytes;
using lumo::io::Error;

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
