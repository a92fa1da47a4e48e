/* The lock record of our Windows build of mbedTLS (MBEDTLS_THREADING_ALT): a critical
 * section and whether it is initialised. The library's threading.h includes this header,
 * so it is plain C, and it keeps <windows.h> out of every library header: the storage is
 * sized for a CRITICAL_SECTION, which native/win32/tls_threading.cpp checks at compile
 * time. build-deps.sh installs it beside threading.h. */
#ifndef STREAMLAUNCH_THREADING_ALT_H
#define STREAMLAUNCH_THREADING_ALT_H

typedef struct mbedtls_threading_mutex_t {
    void* critical_section[5]; /* a CRITICAL_SECTION: 40 bytes, pointer-aligned */
    int valid;
} mbedtls_threading_mutex_t;

#endif
