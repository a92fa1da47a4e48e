// Field access on dynamic values, and the small containers.
#include "util/Reflect.h"

#include <gtest/gtest.h>

#include "lumo/ds/StringMap.h"
#include "util/Lambda.h"
#include "util/List.h"
#include "util/Std.h"

using runtime::Dynamic;
using Names = std::vector<std::string>;

TEST(Reflect, FieldsOfObjectsAndOfEverythingElse) {
    Dynamic obj = Dynamic::object();
    Reflect::setField(obj, "zumel", Dynamic(1));
    Reflect::setField(obj, "alpha", Dynamic("x"));
    Reflect::setField(obj, "zumel", Dynamic(2));
    EXPECT_EQ(Reflect::fields(obj), (Names{"zumel", "alpha"}));
    EXPECT_EQ(Reflect::field(obj, "zumel").asInt(), 2);
    EXPECT_EQ(Std::string(Reflect::getProperty(obj, "alpha")), "x");
    EXPECT_TRUE(Reflect::field(obj, "missing").isNull());

    for (const Dynamic& other : {Dynamic(), Dynamic(3), Dynamic("text"), Dynamic::array()}) {
        EXPECT_TRUE(Reflect::fields(other).empty());
        EXPECT_TRUE(Reflect::field(other, "length").isNull());
        Reflect::setField(other, "a", Dynamic(1));  // nothing happens
        EXPECT_TRUE(Reflect::fields(other).empty());
    }
}

TEST(Reflect, IsObject) {
    EXPECT_TRUE(Reflect::isObject(Dynamic("")));
    EXPECT_TRUE(Reflect::isObject(Dynamic::array()));
    EXPECT_TRUE(Reflect::isObject(Dynamic::object()));
    EXPECT_FALSE(Reflect::isObject(Dynamic()));
    EXPECT_FALSE(Reflect::isObject(Dynamic(1)));
    EXPECT_FALSE(Reflect::isObject(Dynamic(1.5)));
    EXPECT_FALSE(Reflect::isObject(Dynamic(true)));
}

TEST(Containers, StringMapListAndLambda) {
    lumo::ds::StringMap<std::string> map;
    map.set("Content-Length", "3");
    map.set("content-length", "4");
    map.set("Content-Length", "5");
    EXPECT_EQ(map.get("Content-Length"), "5");
    EXPECT_EQ(map.get("content-length"), "4");
    EXPECT_FALSE(map.exists("CONTENT-LENGTH"));
    EXPECT_EQ(map.get(std::string("a\0b", 3)), std::nullopt);

    List<std::string> list;
    EXPECT_FALSE(Lambda::exists(list, [](const std::string&) { return true; }));
    for (const char* s : {"a", "b", "c"}) list.add(s);
    EXPECT_EQ(list.length(), 3);
    std::string order;
    for (const std::string& item : list) order += item;
    EXPECT_EQ(order, "abc");
    int visited = 0;
    EXPECT_TRUE(Lambda::exists(list, [&](const std::string& s) { return ++visited, s == "b"; }));
    EXPECT_EQ(visited, 2);
    EXPECT_FALSE(Lambda::exists(list, [](const std::string& s) { return s == "d"; }));
}
