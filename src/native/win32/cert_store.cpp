#include <windows.h>
#include <wincrypt.h>

#include "native/tls_handles.h"

namespace native {

// The "Root" system store. A certificate the library rejects is left out; a store that
// yields any certificate gives a chain, even one that ends up empty.
CertRef cert_load_system_roots() {
    HCERTSTORE store = ::CertOpenSystemStoreA(0, "Root");
    if (store == nullptr) return nullptr;
    CertRef chain;
    for (PCCERT_CONTEXT c = ::CertEnumCertificatesInStore(store, nullptr); c != nullptr;
         c = ::CertEnumCertificatesInStore(store, c)) {
        if (!chain) chain = std::make_shared<CertChain>();
        mbedtls_x509_crt_parse_der(&chain->value, c->pbCertEncoded, c->cbCertEncoded);
    }
    ::CertCloseStore(store, 0);
    return chain;
}

}  // namespace native
