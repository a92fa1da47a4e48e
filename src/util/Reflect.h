#pragma once
// Field access on dynamic values by name.
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Dynamic.h"

class Reflect {
public:
    // Null when o is not an object or has no such field.
    static runtime::Dynamic field(const runtime::Dynamic& o, std::string_view name);
    // Anonymous objects have no property accessors, so this is field().
    static runtime::Dynamic getProperty(const runtime::Dynamic& o, std::string_view name) {
        return field(o, name);
    }
    // Sets or adds the field; nothing happens when o is not an object.
    static void setField(const runtime::Dynamic& o, std::string_view name, runtime::Dynamic v);
    // Field names in insertion order; empty when o is not an object.
    static std::vector<std::string> fields(const runtime::Dynamic& o);
    // True for strings, objects and arrays; false for null, numbers and Bools.
    static bool isObject(const runtime::Dynamic& v);
};
