#include "RunCommand.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace tamsin::test {
namespace {

std::string shellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

CommandResult runCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& scratch)
{
    std::string command = shellQuote(program);
    for (const auto& a : args)
        command += " " + shellQuote(a);
    const auto errFile = scratch / "stderr.txt";
    command += " 2>" + shellQuote(errFile.string()) + " </dev/null";

    CommandResult r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return r;
    std::array<char, 4096> chunk;
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        r.out.append(chunk.data(), n);
    const int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    return r;
}

} // namespace tamsin::test
