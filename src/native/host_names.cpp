// Host names and address texts: the same calls on every platform.
#include <cstring>
#include <memory>

#include "native/socket.h"
#include "native/socket_api.h"
#include "runtime/Thrown.h"

namespace native {

std::optional<Ipv6Address> host_resolve_ipv6(const std::string& name) {
    sockets_startup();
    Ipv6Address ip{};
    if (ipv6_from_text(name, ip)) return ip;
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE;
    hints.ai_family = AF_INET6;
    addrinfo* found = nullptr;
    if (int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found); rc != 0) {
        throw runtime::ThrownMessage(name + ":" + resolver_message(rc));
    }
    if (found == nullptr) return std::nullopt;
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, ::freeaddrinfo);
    if (found->ai_family != AF_INET6) throw runtime::ThrownMessage("Unkown ai_family");
    std::memcpy(ip.data(), &reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr, ip.size());
    return ip;
}

std::string host_to_string(std::uint32_t ip) {
    in_addr addr{};
    addr.s_addr = ip;
    return ::inet_ntoa(addr);
}

std::optional<std::string> host_to_string_ipv6(const Ipv6Address& ip) { return ipv6_to_text(ip); }

}  // namespace native
