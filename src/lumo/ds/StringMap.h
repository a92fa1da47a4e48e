#pragma once
// Map from text keys (compared by content) to values. Key order is unspecified.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace lumo::ds {

template <typename V>
class StringMap {
public:
    void set(std::string key, V value) { h_.insert_or_assign(std::move(key), std::move(value)); }
    // Absent when the key is not there.
    std::optional<V> get(const std::string& key) const {
        auto it = h_.find(key);
        return it == h_.end() ? std::nullopt : std::optional<V>(it->second);
    }
    bool exists(const std::string& key) const { return h_.count(key) != 0; }

private:
    std::unordered_map<std::string, V> h_;
};

}  // namespace lumo::ds
