#pragma once
// Fixed configuration values of the launcher.

namespace launcher {

// The channel marker is this domain followed by "/channel".
inline constexpr const char* kWebDomain = "goodgame.ru";
inline constexpr const char* kApiHost = "goodgame.ru";
inline constexpr const char* kHlsHost = "hls.goodgame.ru";
// The channel asked for when a caller of Main::parseGGJson names none.
inline constexpr const char* kDefaultChannel = "zumel";

}  // namespace launcher
