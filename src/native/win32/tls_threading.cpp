#include "native/tls_threading.h"

#include <windows.h>

#include <mbedtls/threading.h>

// Our Windows build of mbedTLS has MBEDTLS_THREADING_ALT; its lock record
// (native/win32/threading_alt.h) keeps a critical section in storage of its own.
static_assert(sizeof(CRITICAL_SECTION) <= sizeof(mbedtls_threading_mutex_t::critical_section));
static_assert(alignof(CRITICAL_SECTION) <= alignof(mbedtls_threading_mutex_t));

namespace native {

namespace {

constexpr int kBadInput = -0x001C;  // MBEDTLS_ERR_THREADING_BAD_INPUT_DATA

CRITICAL_SECTION* section(mbedtls_threading_mutex_t* m) {
    return reinterpret_cast<CRITICAL_SECTION*>(m->critical_section);
}

void create(mbedtls_threading_mutex_t* m) {
    if (m == nullptr) return;
    ::InitializeCriticalSection(section(m));
    m->valid = 1;
}

void destroy(mbedtls_threading_mutex_t* m) {
    if (m == nullptr || !m->valid) return;
    ::DeleteCriticalSection(section(m));
    m->valid = 0;
}

int lock(mbedtls_threading_mutex_t* m) {
    if (m == nullptr || !m->valid) return kBadInput;
    ::EnterCriticalSection(section(m));
    return 0;
}

int unlock(mbedtls_threading_mutex_t* m) {
    if (m == nullptr || !m->valid) return kBadInput;
    ::LeaveCriticalSection(section(m));
    return 0;
}

}  // namespace

// Installed before the library's first call (the random generator's set-up), once.
void tls_threading_setup() {
    static const bool installed = [] {
        mbedtls_threading_set_alt(create, destroy, lock, unlock);
        return true;
    }();
    (void)installed;
}

}  // namespace native
