#pragma once
// String builder: pieces and single characters appended in order.
#include <string>
#include <string_view>

class StringBuf {
public:
    void add(std::string_view piece) { b_ += piece; }
    void addChar(int c) { b_ += static_cast<char>(c); }
    int length() const { return static_cast<int>(b_.size()); }
    std::string toString() const { return b_; }

private:
    std::string b_;
};
