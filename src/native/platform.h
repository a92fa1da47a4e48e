#pragma once
// The few platform constants that code above native/ may read. This table is the only
// place outside native/ implementations that knows which platform it is built for.

namespace native {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kYoutubeDlFileName = "youtube-dl.exe";
// The Windows program search looks beside the launcher first, so the bare name serves.
inline constexpr bool kYoutubeDlByProbePath = false;
inline constexpr const char* kSystemName = "Windows";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kYoutubeDlFileName = "youtube-dl";
// exec does not search the launcher's own directory, so the child is started by full path.
inline constexpr bool kYoutubeDlByProbePath = true;
#if defined(__linux__)
inline constexpr const char* kSystemName = "Linux";
#elif defined(__APPLE__)
inline constexpr const char* kSystemName = "Mac";
#else
inline constexpr const char* kSystemName = "BSD";
#endif
#endif

}  // namespace native
