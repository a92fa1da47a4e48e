#include "runtime/Boot.h"

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "runtime/Thrown.h"

namespace runtime {

namespace {
// One write of the whole line, NUL bytes of the text included.
int report(std::string_view text) {
    std::string line = "Error : ";
    line += text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    return -1;
}
}  // namespace

int runGuarded(void (*main)()) {
    try {
        main();
        return 0;
    } catch (const Thrown& thrown) {
        return report(thrown.toString());
    } catch (const std::bad_alloc&) {
        return report("Out of memory");
    } catch (const std::exception& e) {
        return report(e.what());
    } catch (...) {
        return report("Unknown error");
    }
}

}  // namespace runtime
