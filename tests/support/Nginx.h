#pragma once
// A real nginx on loopback, configured at start, for the HTTP client's tests and the HTTP
// benchmark. Both ports serve the same locations: plain HTTP on httpPort(), TLS 1.2/1.3
// on httpsPort() with a certificate for "localhost" signed by the CA in caFile().
//
//   /NAME           root()/NAME, framed by Content-Length; a missing file is a 404 with
//                   nginx's HTML body
//   /chunked/NAME   the same bytes, Transfer-Encoding: chunked, chunks of at most 4000
//   /unframed/NAME  the same bytes with neither length nor chunks: the close ends them
//   /redirect       302 to /, with nginx's HTML body
//
// nginx takes a client's end of sending for the client going away: a client that shuts
// down its sending side while a long body is still on its way gets that body cut short.
//
// nginx runs in the foreground as a single process, its pid file, temporary files and
// error log in a folder of its own. It is killed and reaped when the owner goes.
#include <filesystem>
#include <memory>
#include <string>

#include "support/Run.h"
#include "support/TempDir.h"

namespace testsupport {

class Nginx {
public:
    // Throws std::runtime_error, with nginx's error log, when it does not accept
    // connections within 10 s.
    Nginx();

    int httpPort() const { return httpPort_; }
    int httpsPort() const { return httpsPort_; }
    // Files written here are served from the moment they are complete.
    const std::filesystem::path& root() const { return root_; }
    std::string caFile() const { return (dir_.path() / "certs" / "ca.crt").string(); }

private:
    TempDir dir_;
    std::filesystem::path root_;
    int httpPort_;
    int httpsPort_;
    std::unique_ptr<Daemon> daemon_;
};

}  // namespace testsupport
