// The stream base classes over scripted inputs and outputs.
#include <gtest/gtest.h>

#include <deque>

#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"
#include "lumo/io/Input.h"
#include "lumo/io/Output.h"

using lumo::io::Bytes;
using lumo::io::Eof;
using lumo::io::Error;

namespace {

// Gives its bytes one at a time, then throws Eof; counts calls.
class ByteInput : public lumo::io::Input {
public:
    explicit ByteInput(std::string data) : data_(std::move(data)) {}
    int readByte() override {
        ++calls;
        if (at_ >= data_.size()) throw Eof();
        return static_cast<unsigned char>(data_[at_++]);
    }
    int calls = 0;

private:
    std::string data_;
    std::size_t at_ = 0;
};

// A bulk read that hands out a text in chunks of scripted sizes (the last size repeats);
// at the end of the text it throws Eof.
class ChunkInput : public lumo::io::Input {
public:
    ChunkInput(std::string data, std::deque<int> sizes) : data_(std::move(data)), sizes_(std::move(sizes)) {}
    int readBytes(Bytes& s, int pos, int len) override {
        if (at_ == data_.size()) throw Eof();
        int n = std::min({sizes_.front(), len, static_cast<int>(data_.size() - at_)});
        if (sizes_.size() > 1) sizes_.pop_front();
        for (int i = 0; i < n; ++i) s.set(pos + i, data_[at_++]);
        return n;
    }

private:
    std::string data_;
    std::size_t at_ = 0;
    std::deque<int> sizes_;
};

// Accepts at most `step` bytes per call; 0 makes no progress.
class StepOutput : public lumo::io::Output {
public:
    explicit StepOutput(int step) : step_(step) {}
    void writeByte(int c) override { got += static_cast<char>(c); }
    int writeBytes(const Bytes& s, int pos, int len) override {
        ++calls;
        int n = std::min(step_, len);
        got += s.getString(pos, n);
        return n;
    }
    std::string got;
    int calls = 0;

private:
    int step_;
};

std::string errorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const runtime::Thrown& t) {
        return t.toString();
    }
    return "no error";
}

}  // namespace

TEST(Input, BaseReadBytesStopsQuietlyAtTheEnd) {
    ByteInput in("abc");
    Bytes buf = Bytes::alloc(10);
    EXPECT_EQ(in.readBytes(buf, 0, 0), 0);
    EXPECT_EQ(in.calls, 0);
    EXPECT_EQ(errorText([&] { in.readBytes(buf, 5, 6); }), "OutsideBounds");
    EXPECT_EQ(in.calls, 0);
    EXPECT_EQ(in.readBytes(buf, 2, 8), 3);
    EXPECT_EQ(buf.getString(2, 3), "abc");
    EXPECT_EQ(in.readBytes(buf, 0, 8), 0);
}

TEST(Input, ReadAllGathersChunksUntilEof) {
    EXPECT_EQ(ChunkInput("", {1}).readAll().length(), 0);
    ChunkInput in("hello world", {3, 5, 1});
    EXPECT_EQ(in.readAll(4).toString(), "hello world");
    std::string big(100000, 'q');
    big[99999] = 'z';
    ChunkInput large(big, {16384});
    EXPECT_TRUE(large.readAll().toString() == big);
}

TEST(Input, ReadAllRefusesReadsWithoutProgress) {
    EXPECT_EQ(errorText([] { ChunkInput("abc", {2, 0}).readAll(); }), "Blocked");
    EXPECT_EQ(errorText([] { ChunkInput("abc", {-1}).readAll(); }), "OutsideBounds");
    // An input with only readByte ends in Blocked: the base turns the end into a count of 0.
    EXPECT_EQ(errorText([] { ByteInput("abc").readAll(); }), "Blocked");
    EXPECT_EQ(errorText([] { ByteInput("").readAll(); }), "Blocked");
}

TEST(Input, BaseOperationsAreNotImplemented) {
    lumo::io::Input in;
    lumo::io::Output out;
    EXPECT_EQ(errorText([&] { in.readByte(); }), "Not implemented");
    EXPECT_EQ(errorText([&] { out.writeByte(1); }), "Not implemented");
}

TEST(Output, WriteFullBytesLoopsOverShortWritesAndRefusesNoProgress) {
    Bytes src = Bytes::ofString("0123456789");
    StepOutput threes(3);
    threes.writeFullBytes(src, 1, 8);
    EXPECT_EQ(threes.got, "12345678");
    EXPECT_EQ(threes.calls, 3);

    StepOutput none(0);
    none.writeFullBytes(src, 0, 0);
    EXPECT_EQ(none.calls, 0);
    EXPECT_EQ(errorText([&] { none.writeFullBytes(src, 0, 1); }), "Blocked");

    // The base writeBytes goes through writeByte.
    StepOutput base(1);
    EXPECT_EQ(base.Output::writeBytes(src, 7, 3), 3);
    EXPECT_EQ(base.got, "789");
    EXPECT_EQ(errorText([&] { base.Output::writeBytes(src, 8, 3); }), "OutsideBounds");
}

TEST(Error, TextForms) {
    EXPECT_EQ(Error::Blocked().toString(), "Blocked");
    EXPECT_EQ(Error::Overflow().toString(), "Overflow");
    EXPECT_EQ(Error::OutsideBounds().toString(), "OutsideBounds");
    EXPECT_EQ(Error::Custom("EOF").toString(), "Custom(EOF)");
    EXPECT_EQ(Error::Custom("EOF").index(), 3);
    EXPECT_EQ(Eof().toString(), "Eof");
}
