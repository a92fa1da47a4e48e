#include "support/Nginx.h"

#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

using namespace std::chrono_literals;

// Framed copies of root: the addition filter (appending an empty body) drops the length,
// so nginx frames the reply with chunks, or, with chunked coding off, by the close. Small
// output buffers make many chunks.
std::string framedCopy(const std::string& prefix, const std::filesystem::path& root, bool chunked) {
    return "    location " + prefix + " {\n"
           "      alias " + root.string() + "/;\n"
           "      sendfile off;\n"
           "      output_buffers 1 4000;\n"
           "      addition_types *;\n"
           "      add_after_body /empty-addition;\n" +
           (chunked ? "" : "      chunked_transfer_encoding off;\n") +
           "    }\n";
}

std::string config(const std::filesystem::path& dir, const std::filesystem::path& root, int httpPort,
                   int httpsPort) {
    const std::string d = dir.string();
    return "daemon off;\n"
           "master_process off;\n"
           "pid " + d + "/nginx.pid;\n"
           "error_log " + d + "/error.log warn;\n"
           "events { worker_connections 256; }\n"
           "http {\n"
           "  access_log off;\n"
           "  client_body_temp_path " + d + "/tmp/body;\n"
           "  proxy_temp_path " + d + "/tmp/proxy;\n"
           "  fastcgi_temp_path " + d + "/tmp/fastcgi;\n"
           "  uwsgi_temp_path " + d + "/tmp/uwsgi;\n"
           "  scgi_temp_path " + d + "/tmp/scgi;\n"
           "  types { application/json json; text/plain txt; text/html html; }\n"
           "  default_type application/octet-stream;\n"
           "  sendfile on;\n"
           "  server {\n"
           "    listen 127.0.0.1:" + std::to_string(httpPort) + ";\n"
           "    listen 127.0.0.1:" + std::to_string(httpsPort) + " ssl;\n"
           "    server_name localhost;\n"
           "    ssl_certificate " + d + "/certs/localhost.crt;\n"
           "    ssl_certificate_key " + d + "/certs/localhost.key;\n"
           "    ssl_protocols TLSv1.2 TLSv1.3;\n"
           "    root " + root.string() + ";\n"
           "    absolute_redirect off;\n"
           "    location = /redirect { return 302 /; }\n"
           "    location = /empty-addition { internal; return 200 \"\"; }\n" +
           framedCopy("/chunked/", root, true) + framedCopy("/unframed/", root, false) +
           "  }\n"
           "}\n";
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
    writeFile(conf, config(dir_.path(), root_, httpPort_, httpsPort_));
    // -e: errors before the configuration is read go to the log too, not to a system path.
    const std::vector<std::string> argv{"/usr/sbin/nginx", "-p", dir_.path().string(), "-c", conf,
                                        "-e", dir_.file("error.log")};
    try {
        // nginx opens every listening socket before it serves any, so one port will do.
        daemon_ = std::make_unique<Daemon>(argv, httpPort_, 10s);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(std::string(e.what()) + "\n" + readFile(dir_.file("error.log")));
    }
}

}  // namespace testsupport
