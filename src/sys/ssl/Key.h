#pragma once
// A private key, for a socket that presents its own certificate (the server role).
#include <memory>
#include <string>

#include "native/tls.h"

namespace sys::ssl {

class Key {
public:
    using Ptr = std::shared_ptr<Key>;

    // A PEM or DER key file without a password; throws the TLS library's text.
    static Ptr loadFile(const std::string& file) { return std::make_shared<Key>(native::key_load_file(file)); }

    explicit Key(native::KeyRef k) : k_(std::move(k)) {}
    native::KeyRef k_;
};

}  // namespace sys::ssl
