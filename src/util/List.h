#pragma once
// Singly linked list walked from the head, by iterator() or range-for; add appends at the end.
// A copy shares the nodes. However long the chain, a list or iterator that drops the
// last reference to it frees it one node at a time, not one stack frame per node.
#include <memory>

template <typename T>
class List {
public:
    struct ListNode {
        ListNode(T value, std::shared_ptr<ListNode> rest) : item(std::move(value)), next(std::move(rest)) {}
        T item;
        std::shared_ptr<ListNode> next;

        // Unlinks the chain behind this node while this node owns it alone; the part
        // that someone else still holds stays as it is.
        ~ListNode() {
            std::shared_ptr<ListNode> rest = std::move(next);
            while (rest && rest.use_count() == 1) rest = std::move(rest->next);
        }
    };

    class ListIterator {
    public:
        explicit ListIterator(std::shared_ptr<ListNode> head) : head_(std::move(head)) {}
        bool hasNext() const { return head_ != nullptr; }
        // The item stays valid until the next call, even when the iterator holds the
        // last reference to the list.
        const T& next() {
            current_ = std::move(head_);
            head_ = current_->next;
            return current_->item;
        }

    private:
        std::shared_ptr<ListNode> head_;
        std::shared_ptr<ListNode> current_;
    };

    void add(T item) {
        auto node = std::make_shared<ListNode>(std::move(item), nullptr);
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

    // For range-for, valid while the list lives; items added meanwhile are visited too.
    class Position {
    public:
        explicit Position(const ListNode* node) : node_(node) {}
        const T& operator*() const { return node_->item; }
        Position& operator++() {
            node_ = node_->next.get();
            return *this;
        }
        bool operator==(const Position&) const = default;

    private:
        const ListNode* node_;
    };
    Position begin() const { return Position(h_.get()); }
    Position end() const { return Position(nullptr); }

private:
    std::shared_ptr<ListNode> h_;
    std::shared_ptr<ListNode> q_;  // last node, for appending
    int length_ = 0;
};
