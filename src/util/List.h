#pragma once
// Singly linked list with an iterator that walks from the head; add appends at the end.
#include <memory>

template <typename T>
class List {
public:
    struct ListNode {
        T item;
        std::shared_ptr<ListNode> next;
    };

    class ListIterator {
    public:
        explicit ListIterator(std::shared_ptr<ListNode> head) : head_(std::move(head)) {}
        bool hasNext() const { return head_ != nullptr; }
        const T& next() {
            const T& item = head_->item;
            head_ = head_->next;
            return item;
        }

    private:
        std::shared_ptr<ListNode> head_;
    };

    void add(T item) {
        auto node = std::make_shared<ListNode>(ListNode{std::move(item), nullptr});
        if (q_) {
            q_->next = node;
        } else {
            h_ = node;
        }
        q_ = node;
        ++length_;
    }
    int length() const { return length_; }
    ListIterator iterator() const { return ListIterator(h_); }

private:
    std::shared_ptr<ListNode> h_;
    std::shared_ptr<ListNode> q_;  // last node, for appending
    int length_ = 0;
};
