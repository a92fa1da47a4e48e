#include "util/Reflect.h"

using runtime::Dynamic;

Dynamic Reflect::field(const Dynamic& o, std::string_view name) {
    if (o.kind() != Dynamic::Kind::Object) return {};
    const Dynamic* v = o.asObject().find(name);
    return v ? *v : Dynamic();
}

void Reflect::setField(const Dynamic& o, std::string_view name, Dynamic v) {
    if (o.kind() == Dynamic::Kind::Object) o.asObject().set(name, std::move(v));
}

std::vector<std::string> Reflect::fields(const Dynamic& o) {
    std::vector<std::string> names;
    if (o.kind() != Dynamic::Kind::Object) return names;
    for (const auto& f : o.asObject().fields()) names.emplace_back(f.name);
    return names;
}

bool Reflect::isObject(const Dynamic& v) {
    switch (v.kind()) {
        case Dynamic::Kind::String:
        case Dynamic::Kind::Array:
        case Dynamic::Kind::Object: return true;
        default: return false;
    }
}
