// Values kept from a parsed document, and values moved between documents and the heap:
// each stays readable for as long as it is held, whatever else goes (run under ASan and
// LeakSanitizer by `make test-asan`, which also catch anything never freed).
#include <gtest/gtest.h>

#include <string>

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
    EXPECT_EQ(Reflect::field(deep, "deep").asString(), kLong);
    EXPECT_EQ(Reflect::field(obj, "k").asString(), kLong);

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
    EXPECT_EQ(Reflect::field(obj, "k").asString(), kLong + "!");
    EXPECT_EQ(Reflect::field(obj, "heap").asArray()[0].asString(), kLong + "?");
    EXPECT_EQ(Reflect::fields(obj).size(), 43u);
    EXPECT_EQ(Reflect::fields(obj).back(), kLong);
    EXPECT_EQ(Reflect::field(obj, kLong).asInt(), 1);
    EXPECT_EQ(Reflect::field(obj, "f39").asString(), kLong);
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
    EXPECT_EQ(Reflect::field(Reflect::field(self, "heap"), "x").asString(), kLong);
}
