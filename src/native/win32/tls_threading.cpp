#include "native/tls_threading.h"

#include <mbedtls/threading.h>
#include <windows.h>

// Our Windows build of mbedTLS has MBEDTLS_THREADING_ALT: its mutex type is this record.
struct mbedtls_threading_mutex_t {
    CRITICAL_SECTION cs;
    bool valid;
};

namespace native {

namespace {

constexpr int kBadInput = -0x001C;  // MBEDTLS_ERR_THREADING_BAD_INPUT_DATA

void create(mbedtls_threading_mutex_t* m) {
    if (m == nullptr) return;
    ::InitializeCriticalSection(&m->cs);
    m->valid = true;
}

void destroy(mbedtls_threading_mutex_t* m) {
    if (m == nullptr || !m->valid) return;
    ::DeleteCriticalSection(&m->cs);
    m->valid = false;
}

int lock(mbedtls_threading_mutex_t* m) {
    if (m == nullptr || !m->valid) return kBadInput;
    ::EnterCriticalSection(&m->cs);
    return 0;
}

int unlock(mbedtls_threading_mutex_t* m) {
    if (m == nullptr || !m->valid) return kBadInput;
    ::LeaveCriticalSection(&m->cs);
    return 0;
}

}  // namespace

void tls_threading_setup() {
    static const bool installed = [] {
        mbedtls_threading_set_alt(create, destroy, lock, unlock);
        return true;
    }();
    (void)installed;
}

}  // namespace native
