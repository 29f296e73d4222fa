#pragma once
// Runs a program with arguments and captures its exit status and output.

#include <filesystem>
#include <string>
#include <vector>

namespace tamsin::test {

struct CommandResult {
    int status = -1;  // exit status, -1 when killed by a signal
    std::string out;
    std::string err;
};

// Runs program with args (no shell interpretation of their contents);
// standard input is /dev/null. scratch is a folder for the captured stderr.
CommandResult runCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& scratch);

} // namespace tamsin::test
