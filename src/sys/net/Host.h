#pragma once
// A resolved host: IPv4 first; only when that fails, IPv6.
#include <cstdint>
#include <optional>
#include <string>

#include "native/socket.h"

namespace sys::net {

class Host {
public:
    // Literals are taken without a lookup. A name that resolves nowhere throws the name,
    // ":" and the resolver's message.
    explicit Host(const std::string& name);

    // Dotted IPv4, or the IPv6 text when only IPv6 resolved (absent without a converter).
    std::optional<std::string> toString() const;

    std::string host;
    std::int32_t ip = 0;  // the four octets in network order, as laid in memory; 0 if none
    std::optional<native::Ipv6Address> ipv6;
};

}  // namespace sys::net
