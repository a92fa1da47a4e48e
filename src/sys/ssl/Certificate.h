#pragma once
// A chain of trusted certificates. Loads fail whole: one certificate that does not parse
// fails the file or folder with the TLS library's text for the result.
#include <memory>
#include <string>
#include <vector>

#include "native/tls.h"

namespace sys::ssl {

class Certificate {
public:
    using Ptr = std::shared_ptr<Certificate>;

    // The system's trusted roots: the platform store, else the first existing entry of
    // the path list for this system (a folder with loadPath, a file with loadFile, and
    // what that load gives is the answer). Null when there is none.
    static Ptr loadDefaults();
    static Ptr loadDefaults(const std::vector<std::string>& paths);
    static Ptr loadFile(const std::string& file);
    static Ptr loadPath(const std::string& path);
    // The path list that loadDefaults tries for a system name, in order.
    static std::vector<std::string> defaultPaths(const std::string& systemName);

    explicit Certificate(native::CertRef x) : x_(std::move(x)) {}
    native::CertRef x_;
};

}  // namespace sys::ssl
