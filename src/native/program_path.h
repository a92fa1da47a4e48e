#pragma once
#include <optional>
#include <string>

namespace native {

// Full path of the running executable as UTF-8; absent when the platform cannot tell.
std::optional<std::string> programPath();

}  // namespace native
