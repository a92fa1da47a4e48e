#pragma once
// The library structures behind the TLS handles; for the TLS layer and for tests that
// drive the peer's side of a handshake with a configuration of ours.
#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

#include <memory>

#include "native/tls.h"

namespace native {

// A library structure with its init and free functions, owned like any C++ object.
template <typename T, void (*Init)(T*), void (*Free)(T*)>
struct LibraryObject {
    T value;
    LibraryObject() { Init(&value); }
    ~LibraryObject() { Free(&value); }
    LibraryObject(const LibraryObject&) = delete;
    LibraryObject& operator=(const LibraryObject&) = delete;
};

struct CertChain : LibraryObject<mbedtls_x509_crt, mbedtls_x509_crt_init, mbedtls_x509_crt_free> {};
struct PrivateKey : LibraryObject<mbedtls_pk_context, mbedtls_pk_init, mbedtls_pk_free> {};

// Freed by an explicit close or, at the latest, by the destructor; a second free does
// nothing. Each keeps alive what its library structure points at: the configuration its
// chains, keys and name-selection function, the context its configuration. Members are
// declared owned-first, so that the library structure is always freed before them.
struct TlsConfig {
    using Library = LibraryObject<mbedtls_ssl_config, mbedtls_ssl_config_init, mbedtls_ssl_config_free>;
    CertRef ca, ownCert;
    KeyRef ownKey;
    std::shared_ptr<SniFunction> sni;
    std::unique_ptr<Library> conf = std::make_unique<Library>();
    mbedtls_ssl_config* get() const { return conf ? &conf->value : nullptr; }
};

struct TlsContext {
    using Library = LibraryObject<mbedtls_ssl_context, mbedtls_ssl_init, mbedtls_ssl_free>;
    ConfigRef config;  // mbedtls_ssl_free still reads it
    std::unique_ptr<Library> ssl = std::make_unique<Library>();
    mbedtls_ssl_context* get() const { return ssl ? &ssl->value : nullptr; }
    SocketHandle* socket = nullptr;
    SocketFailure lastFailure = SocketFailure::Other;  // of the transport's last -1
};

}  // namespace native
