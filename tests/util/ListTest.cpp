#include "util/List.h"

#include <gtest/gtest.h>

#include <string>

namespace {
constexpr int kMillion = 1000000;

List<int> count(int n) {
    List<int> list;
    for (int i = 0; i < n; ++i) list.add(i);
    return list;
}
}  // namespace

// A node chain freed one link inside the next would take a stack frame per item.
TEST(List, AMillionItemsAreFreedWithoutRecursion) {
    {
        List<int> list = count(kMillion);
        EXPECT_EQ(list.length(), kMillion);
    }

    // A copy shares the nodes: dropping the original leaves the copy whole.
    auto copy = std::make_unique<List<int>>();
    {
        List<int> original = count(kMillion);
        *copy = original;
    }
    int seen = 0;
    for (int item : *copy) EXPECT_EQ(item, seen++);
    EXPECT_EQ(seen, kMillion);
    copy.reset();

    // An iterator that holds the last reference to a long tail frees it when dropped,
    // and what it returned stays readable until its next step.
    {
        auto it = [] {
            List<std::string> words;
            for (int i = 0; i < kMillion; ++i) words.add("word " + std::to_string(i));
            return words.iterator();
        }();
        const std::string& first = it.next();
        EXPECT_EQ(first, "word 0");
        EXPECT_EQ(it.next(), "word 1");
    }
}
