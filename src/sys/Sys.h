#pragma once
// The program's surroundings: arguments, own path, line output, system name.
#include <optional>
#include <string>
#include <vector>

#include "runtime/Dynamic.h"

class Sys {
public:
    // Stores the program's arguments, its name first.
    static void init(std::vector<std::string> argv);

    // A fresh copy of the arguments after the program's name.
    static std::vector<std::string> args();
    // Full path of the executable; absent when the platform cannot tell.
    static std::optional<std::string> programPath();
    // The text and a line feed in one write on standard output; the text ends at its
    // first NUL byte.
    static void println(const std::string& text);
    static void println(const char* text) { println(std::string(text)); }
    static void println(const runtime::Dynamic& v);
    static std::string systemName();
};
