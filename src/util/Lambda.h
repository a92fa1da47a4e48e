#pragma once
// Predicate tests over iterables that offer iterator() with hasNext()/next().

class Lambda {
public:
    // True when pred holds for some element; stops at the first hit.
    template <typename Iterable, typename Pred>
    static bool exists(const Iterable& it, Pred pred) {
        for (auto i = it.iterator(); i.hasNext();) {
            if (pred(i.next())) return true;
        }
        return false;
    }
};
