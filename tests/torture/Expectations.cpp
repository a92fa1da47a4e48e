#include "torture/Expectations.h"

namespace torture {

namespace {

using enum Ending;

struct Row {
    const char* function;  // "*" for every function
    const char* mode;
    std::vector<Ending> endings;
};

// The first matching row holds. Retrying or going on is sound where nothing is lost; every
// other failure ends the run clearly.
const std::vector<Row>& rows() {
    static const std::vector<Row> table{
        // A stat or readlink that fails leaves youtube-dl unseen beside the program.
        {"stat", "fail", {OwnMessage}},
        {"readlink", "fail", {OwnMessage}},
        // Interrupted calls are made again, and short transfers go on where they stopped.
        {"*", "eintr", {Normal}},
        {"*", "short", {Normal}},
        // Timeouts are a bound, not a need; shutdown only hurries the peer; a close that
        // fails has released the descriptor all the same.
        {"setsockopt", "fail", {Normal}},
        {"shutdown", "fail", {Normal}},
        {"close", "fail", {Normal}},
        // The child's error text that cannot be passed on is dropped: it has nowhere to go.
        {"write", "fail", {Normal}},
        // After the end of youtube-dl's output a failed wait only stops passing on the rest
        // of its error text; before it, the output is not fully read.
        {"poll", "fail", {Normal, Failure}},
        {"*", "fail", {Failure}},
    };
    return table;
}

bool matches(const char* pattern, const std::string& text) {
    return std::string(pattern) == "*" || text == pattern;
}

}  // namespace

const char* name(Ending ending) {
    switch (ending) {
        case Normal:
            return "normal";
        case Failure:
            return "clear failure";
        case OwnMessage:
            return "own message";
        case Bad:
            return "bad";
    }
    return "?";
}

std::vector<Ending> expectedEndings(const std::string& function, const std::string& mode) {
    for (const Row& row : rows()) {
        if (matches(row.function, function) && matches(row.mode, mode)) {
            return row.endings;
        }
    }
    return {};
}

std::vector<std::string> modesOf(const std::string& function) {
    bool transfer =
        function == "send" || function == "recv" || function == "read" || function == "write";
    return transfer ? std::vector<std::string>{"fail", "short", "eintr"}
                    : std::vector<std::string>{"fail"};
}

}  // namespace torture
