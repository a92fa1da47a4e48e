#include "native/tls_threading.h"

namespace native {

// The system mbedTLS is built with its own pthread locking.
void tls_threading_setup() {}

}  // namespace native
