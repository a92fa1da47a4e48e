#include "runtime/Dynamic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

using runtime::Dynamic;

namespace {
std::string fieldName(int i) {
    std::string name = "f";
    name += std::to_string(i);
    return name;
}
}  // namespace

TEST(Dynamic, ScalarsAndStringsKeepTheirValues) {
    EXPECT_TRUE(Dynamic().isNull());
    EXPECT_EQ(Dynamic(true).asBool(), true);
    EXPECT_EQ(Dynamic(std::int32_t{-2147483647 - 1}).asInt(), -2147483647 - 1);
    EXPECT_EQ(Dynamic(3.25).asFloat(), 3.25);
    EXPECT_EQ(sizeof(Dynamic), 16u);
    // Both sides of the inline limit, with NUL and high bytes.
    for (std::size_t n : {0u, 1u, 14u, 15u, 300u}) {
        std::string text(n, 'a');
        if (n > 2) text[1] = '\0', text[2] = '\xE9';
        Dynamic d(text);
        Dynamic copy = d;
        Dynamic moved = std::move(d);
        EXPECT_EQ(copy.kind(), Dynamic::Kind::String);
        EXPECT_EQ(copy.asString(), text) << n;
        EXPECT_EQ(moved.asString(), text) << n;
    }
}

TEST(Dynamic, ArraysAndObjectsAreSharedByReference) {
    Dynamic list = Dynamic::array();
    Dynamic alias = list;
    alias.asArray().push_back(Dynamic(1));
    EXPECT_EQ(list.asArray().size(), 1u);
    EXPECT_TRUE(list.sameNode(alias));
    EXPECT_FALSE(list.sameNode(Dynamic()) || Dynamic().sameNode(list) || list.sameNode(Dynamic::array()));

    Dynamic obj = Dynamic::object();
    Dynamic other = obj;
    other.asObject().set("k", Dynamic("v"));
    ASSERT_NE(obj.asObject().find("k"), nullptr);
    EXPECT_EQ(obj.asObject().find("k")->asString(), "v");

    // Assignment over the last reference releases it; self-assignment keeps it.
    other = other;
    EXPECT_EQ(other.asObject().size(), 1u);
    other = Dynamic(5);
    obj = list;
    EXPECT_TRUE(obj.sameNode(list));
    obj = Dynamic();
    EXPECT_TRUE(obj.isNull());
}

TEST(Dynamic, ObjectKeepsInsertionOrderAndReplacesInPlace) {
    // Past the size at which an index is built, lookups and replacement must agree with
    // the order of insertion.
    for (int count : {3, 12, 13, 200}) {
        Dynamic obj = Dynamic::object();
        auto& fields = obj.asObject();
        for (int i = 0; i < count; ++i) fields.set(fieldName(i), Dynamic(i));
        fields.set("f1", Dynamic("again"));
        fields.set("", Dynamic(true));
        ASSERT_EQ(fields.size(), static_cast<std::size_t>(count + 1));
        EXPECT_EQ(fields.fields()[1].name, "f1");
        EXPECT_EQ(fields.fields()[1].value.asString(), "again");
        EXPECT_EQ(fields.fields().back().name, "");
        for (int i = 0; i < count; ++i) {
            const Dynamic* v = fields.find(fieldName(i));
            ASSERT_NE(v, nullptr) << count << " " << i;
            if (i != 1) {
                EXPECT_EQ(v->asInt(), i);
            }
        }
        EXPECT_EQ(fields.find("missing"), nullptr);
        EXPECT_NE(fields.find(""), nullptr);
    }
}

TEST(Dynamic, ImpossibleSizesThrowBeforeAnythingChanges) {
    // Counts whose byte size wraps, or more fields than the index can hold, on the heap and
    // in a document's arena: refused, and the object stays as it was.
    runtime::Arena::Ref arena = runtime::Arena::create();
    for (runtime::Arena* memory : {static_cast<runtime::Arena*>(nullptr), arena.get()}) {
        for (std::size_t count : {SIZE_MAX / 32 + 2, SIZE_MAX, std::size_t{1} << 30}) {
            Dynamic obj = Dynamic::object(memory);
            obj.asObject().set("k", Dynamic(1));
            EXPECT_THROW(obj.asObject().reserve(count), std::length_error) << count;
            for (int i = 0; i < 20; ++i) obj.asObject().set(fieldName(i), Dynamic(i));
            EXPECT_EQ(obj.asObject().size(), 21u);
            EXPECT_EQ(obj.asObject().find("f19")->asInt(), 19);
        }
    }
    volatile std::size_t wraps = SIZE_MAX - 4;  // with the alignment; volatile, or GCC warns
    EXPECT_THROW((void)arena.get()->allocate(wraps, 8), std::bad_alloc);
    Dynamic text(std::string(100, 'x'), arena.get());
    EXPECT_EQ(text.asString(), std::string(100, 'x'));
}
