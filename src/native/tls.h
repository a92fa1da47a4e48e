#pragma once
// TLS over mbedTLS: certificate chains ("sslcert"), private keys, configurations
// ("sslconfig") and contexts ("sslctx"). Library failures throw runtime::ThrownMessage
// with the library's own text for the code. A transport failure (-1 from the socket
// callbacks) throws a native::Failure: "Blocking" (Blocking) when the call would block or
// timed out, and "ssl network error" (Other) otherwise.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "native/socket.h"

namespace native {

struct CertChain;
struct PrivateKey;
struct TlsConfig;
struct TlsContext;
using CertRef = std::shared_ptr<CertChain>;
using KeyRef = std::shared_ptr<PrivateKey>;
using ConfigRef = std::shared_ptr<TlsConfig>;
using ContextRef = std::shared_ptr<TlsContext>;

// The library's text for a code (its fallback "UNKNOWN ERROR CODE (%04X)" included).
std::string tls_error_text(int code);

// Every certificate of a PEM or DER file, or of every file in a folder. Any certificate
// that fails to parse fails the whole load, with the text of the library's result.
CertRef cert_load_file(const std::string& file);
CertRef cert_load_path(const std::string& path);
// The platform's certificate store; null where there is none (POSIX) or it is empty.
CertRef cert_load_system_roots();
// How many certificates the chain holds.
int cert_count(const CertChain& chain);
// A private key from a PEM or DER file (for the server role).
KeyRef key_load_file(const std::string& file);

// Server name -> identity to present, or absent to refuse the handshake.
using SniFunction = std::function<std::optional<std::pair<CertRef, KeyRef>>(const std::string&)>;

// The library's defaults for the role; a client offers the curves x25519 and secp256r1
// first, then every other curve of the default list in its order.
ConfigRef tls_config_new(bool server);
void tls_conf_own_cert(TlsConfig& c, const CertRef& cert, const KeyRef& key);
// The configuration keeps the function alive; a later call replaces it.
void tls_conf_sni(TlsConfig& c, std::shared_ptr<SniFunction> sni);
void tls_conf_ca(TlsConfig& c, const CertRef& chain);
// Optional verifies the peer but lets the handshake go on when that fails.
enum class TlsAuthMode { None, Optional, Required };
void tls_conf_authmode(TlsConfig& c, TlsAuthMode mode);
// Frees the library configuration now; close the contexts made from it first.
void tls_config_close(TlsConfig& c);

// The context keeps the configuration alive for as long as it lives, so replacing or
// dropping every other reference to it is safe. The socket must outlive the context's
// use of it.
ContextRef tls_context_new(const ConfigRef& c, SocketHandle* socket);
void tls_set_hostname(TlsContext& ctx, const std::string& name);
void tls_handshake(TlsContext& ctx);
void tls_write_all(TlsContext& ctx, const unsigned char* data, int size);
// Throws "invalid char" for a value outside 0..255; otherwise fails as tls_write_all.
void tls_send_char(TlsContext& ctx, int c);
// One library write; its result as it is (a negative code too). "ssl_send" for a bad range.
int tls_send(TlsContext& ctx, const unsigned char* buf, int size, int pos, int len);
// One decrypted byte; "ssl_recv_char" for anything else.
int tls_recv_char(TlsContext& ctx);
// One library read (repeated while a record without data, such as a warning alert,
// makes it ask again, within the socket's timeout): 0 when the peer closed the
// connection, "ssl_recv" for a bad range or a TLS failure (a close-notify alert included).
int tls_recv(TlsContext& ctx, unsigned char* buf, int size, int pos, int len);
void tls_context_close(TlsContext& ctx);

}  // namespace native
