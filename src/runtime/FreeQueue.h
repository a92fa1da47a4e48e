#pragma once
// Frees that a free sets off wait in a list and run one after another in the outermost
// free's loop: a structure nested a million deep is freed by a loop, not by a recursion as
// deep as the structure, which would overflow the stack. One list per thread and kind of
// item, linked through the items themselves (next(item), free for use once the item is
// being freed), so that queueing never allocates and never fails.
namespace runtime {

template <typename T, T*& (*next)(T*) noexcept, void (*freeNow)(T*) noexcept>
class FreeQueue {
public:
    static void free(T* item) noexcept {
        if (running_) {
            next(item) = pending_;
            pending_ = item;
            return;
        }
        running_ = true;
        freeNow(item);
        while (pending_ != nullptr) {
            T* first = pending_;
            pending_ = next(first);
            freeNow(first);
        }
        running_ = false;
    }

private:
    static thread_local inline T* pending_ = nullptr;
    static thread_local inline bool running_ = false;
};

}  // namespace runtime
