#include <windows.h>

#include <wincrypt.h>

#include <memory>

#include "native/tls_handles.h"
#include "native/tls_threading.h"

namespace native {

namespace {
struct StoreCloser {
    void operator()(void* store) const { ::CertCloseStore(store, 0); }
};
}  // namespace

// The "Root" system store. A certificate the library rejects is left out; a store that
// yields any certificate gives a chain, even one that ends up empty.
CertRef cert_load_system_roots() {
    tls_threading_setup();  // the keys parsed here hold library locks
    std::unique_ptr<void, StoreCloser> store(::CertOpenSystemStoreA(0, "Root"));
    if (!store) return nullptr;
    CertRef chain;
    for (PCCERT_CONTEXT c = ::CertEnumCertificatesInStore(store.get(), nullptr); c != nullptr;
         c = ::CertEnumCertificatesInStore(store.get(), c)) {
        if (!chain) chain = std::make_shared<CertChain>();
        mbedtls_x509_crt_parse_der(&chain->value, c->pbCertEncoded, c->cbCertEncoded);
    }
    return chain;
}

}  // namespace native
