#pragma once
// How each injected fault must end a run, by function and mode: the table the
// torture driver holds every run to. A run that ends any other way, or badly (a crash, a
// sanitizer report, a hang, a descriptor left open, a child left running, a player on a
// wrong address), fails the torture.
#include <string>
#include <vector>

namespace torture {

enum class Ending {
    Normal,      // the road's normal result
    Failure,     // the clear failure: one "Error : <text>" line and status 255, or a thrown message
    OwnMessage,  // the road's own message (youtube-dl not found beside the program)
    Bad,
};

const char* name(Ending ending);

// The endings allowed, on every road, when a call of `function` misbehaves in `mode`
// ("fail", "short", "eintr").
std::vector<Ending> expectedEndings(const std::string& function, const std::string& mode);

// The modes tried at every call of `function`.
std::vector<std::string> modesOf(const std::string& function);

}  // namespace torture
