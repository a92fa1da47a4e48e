// Values kept from a parsed document, and values moved between documents and the heap:
// each stays readable for as long as it is held, whatever else goes (run under ASan and
// LeakSanitizer by `make test-asan`, which also catch anything never freed).
#include <gtest/gtest.h>

#include <cstdio>
#include <span>
#include <string>
#include <utility>

#include "lumo/format/JsonParser.h"
#include "runtime/Dynamic.h"
#include "util/Reflect.h"
#include "util/Std.h"

using runtime::Dynamic;

namespace {

Dynamic parse(std::string_view text) { return lumo::format::JsonParser(text).parseRec(); }

// Long enough to live in a node rather than inside the value.
const std::string kLong = "a text that is longer than fourteen bytes";

Dynamic document() {
    std::string text = R"({"list":[1,")" + kLong + R"(",{"deep":")" + kLong + R"("}],"obj":{"k":")" + kLong + R"("}})";
    return parse(text);  // the text goes before any value is read
}

}  // namespace

TEST(DynamicOwnership, ValuesKeptFromADocumentOutliveIt) {
    Dynamic root = document();
    Dynamic list = Reflect::field(root, "list");
    Dynamic text = list.asArray()[1];
    Dynamic deep = list.asArray()[2];
    Dynamic obj = Reflect::field(root, "obj");
    root = Dynamic();
    EXPECT_EQ(Std::string(list), "[1," + kLong + ",{ deep : " + kLong + " }]");
    EXPECT_EQ(text.asString(), kLong);
    list = Dynamic();
    EXPECT_EQ(Std::string(Reflect::field(deep, "deep")), kLong);
    EXPECT_EQ(Std::string(Reflect::field(obj, "k")), kLong);

    // A kept inner object changed after its document has gone: new fields, a field
    // replaced while the old value is still held, values from the heap.
    Dynamic old = Reflect::field(obj, "k");
    Reflect::setField(obj, "k", Dynamic(kLong + "!"));
    Dynamic heapList = Dynamic::array();
    heapList.asArray().push_back(Dynamic(kLong + "?"));
    Reflect::setField(obj, "heap", heapList);
    for (int i = 0; i < 40; ++i) Reflect::setField(obj, std::string(1, 'f').append(std::to_string(i)), Dynamic(kLong));
    Reflect::setField(obj, kLong, Dynamic(1));  // a name too long to keep inside the field
    heapList = Dynamic();
    EXPECT_EQ(old.asString(), kLong);
    EXPECT_EQ(Std::string(Reflect::field(obj, "k")), kLong + "!");
    EXPECT_EQ(Std::string(Reflect::field(obj, "heap")), "[" + kLong + "?]");
    EXPECT_EQ(Reflect::fields(obj).size(), 43u);
    EXPECT_EQ(Reflect::fields(obj).back(), kLong);
    EXPECT_EQ(Reflect::field(obj, kLong).asInt(), 1);
    EXPECT_EQ(Std::string(Reflect::field(obj, "f39")), kLong);
}

TEST(DynamicOwnership, ValuesMovedBetweenDocumentsAndTheHeap) {
    Dynamic first = document();
    Dynamic second = document();
    // Second's list into first: first keeps it readable after second has gone. (Two
    // documents that hold each other's nodes would keep each other: a cycle.)
    Dynamic secondList = Reflect::field(second, "list");
    Reflect::setField(first, "borrowed", secondList);
    secondList = Dynamic();
    second = Dynamic();
    Dynamic borrowed = Reflect::field(first, "borrowed");
    EXPECT_EQ(borrowed.asArray().size(), 3u);
    EXPECT_EQ(borrowed.asArray()[1].asString(), kLong);

    // A document's value into a heap array, the document released, then the heap array.
    Dynamic heap = Dynamic::array();
    heap.asArray().push_back(Reflect::field(first, "list"));
    heap.asArray() = {heap.asArray()[0], Dynamic(kLong)};
    first = Dynamic();
    borrowed = Dynamic();
    EXPECT_EQ(Std::string(heap.asArray()[0]), "[1," + kLong + ",{ deep : " + kLong + " }]");

    // A document holding itself, and a heap value it alone holds, still goes in full.
    Dynamic self = document();
    Reflect::setField(self, "self", self);
    Dynamic onlyInside = Dynamic::object();
    onlyInside.asObject().set("x", Dynamic(kLong));
    onlyInside.asObject().set(kLong, Dynamic(kLong));
    Reflect::setField(self, "heap", onlyInside);
    onlyInside = Dynamic();
    EXPECT_TRUE(Reflect::field(self, "self").sameNode(self));
    EXPECT_EQ(Std::string(Reflect::field(Reflect::field(self, "heap"), "x")), kLong);
}

TEST(DynamicOwnership, EveryWriteStoresBeforeItLetsGo) {
    // A document's last handle moved into one of its own containers: the write must not
    // drop that count before it has stored the value (ASan: a use after free). The
    // document then goes with it, as nothing outside holds it.
    Dynamic root = parse(R"({"k":1})");
    root.asObject().set("self", std::move(root));
    EXPECT_TRUE(root.isNull());
    Dynamic inner = Reflect::field(document(), "obj");
    inner.asObject().set("me", std::move(inner));
    Dynamic list = Reflect::field(document(), "list");
    list.asArray().push_back(std::move(list));
    Dynamic again = Reflect::field(document(), "list");
    Dynamic items[] = {std::move(again), Dynamic(kLong)};
    Dynamic alias = items[0];
    items[0] = Dynamic();
    alias.asArray().assign(std::span<Dynamic>(items, 1));
    alias = Dynamic();

    // A heap object whose only holder is the field being replaced, or the array item.
    Dynamic heap = Dynamic::object();
    heap.asObject().set("self", heap);
    runtime::DynamicObject& fields = heap.asObject();
    heap = Dynamic();
    fields.set("self", Dynamic(kLong));
    Dynamic heapList = Dynamic::array();
    heapList.asArray().push_back(heapList);
    runtime::DynamicArray& heapItems = heapList.asArray();
    heapList = Dynamic();
    heapItems = {Dynamic(kLong)};
}

TEST(DynamicOwnership, ANewNameMayViewTheObjectsOwnFields) {
    // At capacity, growing frees the fields the name lies in (an inline short string, part
    // of an inline name), before and past the index.
    for (int count : {4, 13}) {
        for (std::string expected : {"value", "ield1"}) {
            Dynamic obj = Dynamic::object();
            runtime::DynamicObject& fields = obj.asObject();
            for (int i = 0; i < count; ++i) fields.set("field" + std::to_string(i), Dynamic("value"));
            std::string_view name = std::string_view(fields.fields()[1].name).substr(1);
            fields.set(expected == "value" ? fields.find("field0")->asString() : name, Dynamic(1));
            EXPECT_EQ(fields.fields()[count].name, expected);
            EXPECT_EQ(fields.find(expected)->asInt(), 1) << count;
        }
    }
}

TEST(DynamicOwnership, DeepNestingIsFreedWithoutRecursion) {
    // A million heap arrays, each holding the one before, then a chain of documents each
    // holding the one before: freed by a loop, not by a stack frame per level.
    Dynamic nested;
    for (int i = 0; i < 1100000; ++i) {
        runtime::Arena::Ref arena = i < 1000000 ? runtime::Arena::Ref() : runtime::Arena::create(64);
        Dynamic outer = Dynamic::array(arena.get());
        outer.asArray().push_back(std::move(nested));
        nested = std::move(outer);
    }
    std::size_t depth = 0;
    for (const Dynamic* at = &nested; !at->isNull(); at = &at->asArray()[0]) ++depth;
    EXPECT_EQ(depth, 1100000u);
    nested = Dynamic();
}

// A view taken from a temporary would dangle once the statement ends: refused.
template <typename T>
concept GivesViews = requires(T value) {
    std::forward<T>(value).asString();
    std::forward<T>(value).asArray();
    std::forward<T>(value).asObject();
};
static_assert(GivesViews<const Dynamic&> && !GivesViews<Dynamic&&>);

TEST(DynamicOwnership, AViewKeptPastALargeDocumentIsReported) {
    // Freed blocks of large documents are kept for reuse, which would hide a read through
    // a view that outlived its document; under ASan they are not, and the read is caught.
    if (runtime::Arena::kReusesBlocks) GTEST_SKIP() << "only AddressSanitizer builds report this";
    auto large = [](const std::string& text) {
        std::string json = "{\"s\":\"" + text + "\",\"pad\":[";
        for (int i = 0; i < 2000; ++i) json += "\"0123456789\",";
        return parse(json + "0]}");
    };
    EXPECT_DEATH(
        {
            std::string_view view;
            {
                Dynamic doc = large(kLong);
                Dynamic s = Reflect::field(doc, "s");
                view = s.asString();
            }
            Dynamic other = large(std::string(kLong.size(), 'z'));
            std::printf("%d\n", view[0]);
        },
        "heap-use-after-free");
}
