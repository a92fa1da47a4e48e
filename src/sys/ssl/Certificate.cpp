#include "sys/ssl/Certificate.h"

#include "sys/FileSystem.h"
#include "sys/Sys.h"

namespace sys::ssl {

std::vector<std::string> Certificate::defaultPaths(const std::string& systemName) {
    if (systemName == "Linux") {
        return {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt", "/etc/ssl/ca-bundle.pem",
                "/etc/pki/tls/cacert.pem", "/etc/ssl/certs", "/system/etc/security/cacerts"};
    }
    if (systemName == "BSD") {
        return {"/usr/local/share/certs/ca-root-nss.crt", "/etc/ssl/cert.pem", "/etc/openssl/certs/ca-certificates.crt"};
    }
    if (systemName == "Android") return {"/system/etc/security/cacerts"};
    return {};
}

Certificate::Ptr Certificate::loadDefaults() {
    if (native::CertRef roots = native::cert_load_system_roots()) return std::make_shared<Certificate>(roots);
    return loadDefaults(defaultPaths(Sys::systemName()));
}

Certificate::Ptr Certificate::loadDefaults(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (FileSystem::exists(path)) return FileSystem::isDirectory(path) ? loadPath(path) : loadFile(path);
    }
    return nullptr;
}

Certificate::Ptr Certificate::loadFile(const std::string& file) {
    return std::make_shared<Certificate>(native::cert_load_file(file));
}

Certificate::Ptr Certificate::loadPath(const std::string& path) {
    return std::make_shared<Certificate>(native::cert_load_path(path));
}

}  // namespace sys::ssl
