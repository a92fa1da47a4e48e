#include "runtime/Boot.h"

#include <cstdio>
#include <exception>

#include "native/startup.h"
#include "runtime/Thrown.h"
#include "sys/Sys.h"

namespace runtime {

namespace {
int report(const char* text) {
    std::printf("Error : %s\n", text);
    return -1;
}
}  // namespace

int boot(int argc, char** argv, void (*main)()) {
    std::vector<std::string> args = native::programArguments(argc, argv);
    std::vector<const char*> texts;
    for (const std::string& a : args) texts.push_back(a.c_str());
    Sys::init(static_cast<int>(texts.size()), texts.data());
    native::bootPlatform();
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
