#pragma once
// What the launcher says about itself when asked with a sole --help, -h or --version.
#include <optional>
#include <string>

namespace launcher {

// The usage text; youtubeDl is where this program looks for youtube-dl, when known.
std::string helpText(const std::optional<std::string>& youtubeDl);
// "streamlaunch" and the version, then the license on a line of its own.
std::string versionText();

}  // namespace launcher
