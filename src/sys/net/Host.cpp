#include "sys/net/Host.h"

#include "runtime/Thrown.h"

namespace sys::net {

Host::Host(const std::string& name) : host(name) {
    try {
        ip = static_cast<std::int32_t>(native::host_resolve(name));
    } catch (const runtime::Thrown&) {
        ipv6 = native::host_resolve_ipv6(name);
    }
}

std::optional<std::string> Host::toString() const {
    if (!ipv6) return native::host_to_string(static_cast<std::uint32_t>(ip));
    return native::host_to_string_ipv6(*ipv6);
}

}  // namespace sys::net
