#pragma once
// The launcher's front end: checks, argument handling and the choice of road.
#include <optional>
#include <string>

class Main {
public:
    // Runs once. Each failed check prints one line and returns; errors from the library
    // are not caught here.
    static void main();
    // Resolves a channel's HLS playlist and starts the player on it; it lives in
    // ChannelResolver.cpp, beside its helpers.
    static void parseGGJson(std::optional<std::string> channel, std::optional<std::string> quality,
                            std::optional<std::string> player);
};
