#include "support/Nginx.h"

#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

using namespace std::chrono_literals;

// The framed copies of root: the addition filter (appending an empty body) drops the
// length, so nginx frames the reply with chunks or, with chunked coding off, by the close.
// Small output buffers make many chunks.
constexpr const char* kConfig = R"(daemon off;
master_process off;
pid @DIR@/nginx.pid;
error_log @DIR@/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path @DIR@/tmp/body;
  proxy_temp_path @DIR@/tmp/proxy;
  fastcgi_temp_path @DIR@/tmp/fastcgi;
  uwsgi_temp_path @DIR@/tmp/uwsgi;
  scgi_temp_path @DIR@/tmp/scgi;
  types { application/json json; text/plain txt; text/html html; }
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:@HTTP_PORT@;
    listen 127.0.0.1:@HTTPS_PORT@ ssl;
    server_name localhost;
    ssl_certificate @DIR@/certs/localhost.crt;
    ssl_certificate_key @DIR@/certs/localhost.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    root @ROOT@;
    absolute_redirect off;
    location = /redirect { return 302 /; }
    location = /empty-addition { internal; return 200 ""; }
    location ~ ^/(chunked|unframed)/ {
      sendfile off;
      output_buffers 1 4000;
      addition_types *;
      add_after_body /empty-addition;
      location ~ ^/chunked/(.*)$ { alias @ROOT@/$1; }
      location ~ ^/unframed/(.*)$ { alias @ROOT@/$1; chunked_transfer_encoding off; }
    }
  }
}
)";

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

}  // namespace

Nginx::Nginx() : root_(dir_.path() / "www"), httpPort_(freePort()), httpsPort_(freePort()) {
    while (httpsPort_ == httpPort_) httpsPort_ = freePort();
    const auto certs = dir_.path() / "certs";
    std::filesystem::create_directories(certs);
    std::filesystem::create_directories(dir_.path() / "tmp");
    std::filesystem::create_directories(root_);
    const auto script = std::filesystem::path(__FILE__).parent_path() / "make_certs.sh";
    auto made = run({"sh", script.string(), certs.string()}, 60s);
    if (made.status != 0) throw std::runtime_error("make_certs.sh failed: " + made.err);

    const std::string conf = dir_.file("nginx.conf");
    std::string text = replaceAll(kConfig, "@DIR@", dir_.path().string());
    text = replaceAll(text, "@ROOT@", root_.string());
    text = replaceAll(text, "@HTTP_PORT@", std::to_string(httpPort_));
    writeFile(conf, replaceAll(text, "@HTTPS_PORT@", std::to_string(httpsPort_)));
    // -e: errors before the configuration is read go to the log too, not to a system path.
    const std::vector<std::string> argv{
        "/usr/sbin/nginx", "-p", dir_.path().string(), "-c", conf, "-e", dir_.file("error.log")};
    try {
        // nginx opens every listening socket before it serves any, so one port will do.
        daemon_ = std::make_unique<Daemon>(argv, httpPort_, 10s);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(std::string(e.what()) + "\n" + readFile(dir_.file("error.log")));
    }
}

}  // namespace testsupport
