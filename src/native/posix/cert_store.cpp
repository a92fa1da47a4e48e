#include "native/tls.h"

namespace native {

// No system certificate store on POSIX: the trust store comes from the path lists.
CertRef cert_load_system_roots() { return nullptr; }

}  // namespace native
