// A library caller of lumo::Http::requestUrl for the torture driver, linked with the fault
// injector:
//
//   fetch <url> <body-file> [<ca-file>]
//
// The body goes to body-file and "body" is printed (status 0), or "thrown <text>" (status 1).
#include <cstdio>
#include <fstream>
#include <new>

#include "http/Http.h"
#include "runtime/Thrown.h"
#include "sys/ssl/Certificate.h"
#include "sys/ssl/Socket.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: fetch <url> <body-file> [<ca-file>]\n", stderr);
        return 2;
    }
    try {
        if (argc > 3) sys::ssl::Socket::DEFAULT_CA = sys::ssl::Certificate::loadFile(argv[3]);
        std::string body = lumo::Http::requestUrl(argv[1]);
        std::ofstream(argv[2], std::ios::binary) << body;
        std::puts("body");
        return 0;
    } catch (const runtime::Thrown& thrown) {
        std::printf("thrown %s\n", thrown.toString().c_str());
    } catch (const std::bad_alloc&) {
        std::puts("thrown out of memory");
    }
    return 1;
}
