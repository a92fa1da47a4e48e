#pragma once

namespace native {

// Hands the TLS library the locks it uses for its shared state, once. On Windows these
// are critical sections; on POSIX the system library locks with pthreads by itself.
void tls_threading_setup();

}  // namespace native
