#include "runtime/Boot.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "runtime/Thrown.h"

namespace runtime {

namespace {
// One write of the whole line, NUL bytes of the text included; in pieces when there is no
// memory left for the line.
int report(std::string_view text) {
    try {
        std::string line = "Error : ";
        line += text;
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    } catch (const std::bad_alloc&) {
        for (std::string_view piece : {std::string_view("Error : "), text, std::string_view("\n")}) {
            std::fwrite(piece.data(), 1, piece.size(), stdout);
        }
    }
    return -1;
}

int reportOutOfMemory() { return report("Out of memory"); }
}  // namespace

int runGuarded(void (*main)()) {
    try {
        main();
        return 0;
    } catch (const Thrown& thrown) {
        try {
            return report(thrown.toString());
        } catch (const std::bad_alloc&) {  // no memory left for the text
            return reportOutOfMemory();
        }
    } catch (const std::bad_alloc&) {
        return reportOutOfMemory();
    } catch (const std::exception& e) {
        return report(e.what());
    } catch (...) {
        return report("Unknown error");
    }
}

}  // namespace runtime
