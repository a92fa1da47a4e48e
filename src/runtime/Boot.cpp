#include "runtime/Boot.h"

#include <cstdio>
#include <exception>

#include "runtime/Thrown.h"

namespace runtime {

namespace {
int report(const char* text) {
    std::printf("Error : %s\n", text);
    return -1;
}
}  // namespace

int runGuarded(void (*main)()) {
    try {
        main();
        return 0;
    } catch (const Thrown& thrown) {
        return report(thrown.toString().c_str());
    } catch (const std::bad_alloc&) {
        return report("Out of memory");
    } catch (const std::exception& e) {
        return report(e.what());
    } catch (...) {
        return report("Unknown error");
    }
}

}  // namespace runtime
