#pragma once
// Predicate tests over iterables.

class Lambda {
public:
    // True when pred holds for some element; stops at the first hit.
    template <typename Iterable, typename Pred>
    static bool exists(const Iterable& it, Pred pred) {
        for (const auto& item : it) {
            if (pred(item)) return true;
        }
        return false;
    }
};
