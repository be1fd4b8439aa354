// lorvex-recv as the scenarios meet it: started with options, listening on a
// port the system chose; what it printed, read back.
#pragma once

#include <csignal>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "pd.hpp"

namespace lorvex::test {

class Receiver : public Child {
public:
    // Which lorvex-recv listens: the Linux program (the peer that strimo~
    // in any Pd streams to), or the build's own, which for Windows is
    // lorvex-recv.exe under wine.
    enum class program { linux_peer, of_build };

    explicit Receiver(std::vector<std::string> args, program p = program::linux_peer)
        : Child(with_tool(std::move(args), p)), wine_(p == program::of_build && windows())
    {
        auto m = wait_for_match(R"(^listening on (tcp|udp) port (\d+)$)", wine_ ? 30 : 10);
        port_ = m.size() == 3 ? std::stoi(m[2]) : 0;
    }

    int port() const { return port_; }

    using Child::finish;
    // Stops it as Ctrl-C would and answers all it printed: SIGTERM on Linux;
    // a Windows program hears SIGINT from wine as Ctrl-C, and dies of SIGTERM.
    std::vector<std::string> finish() { return finish(wine_ ? SIGINT : SIGTERM); }

private:
    static std::vector<std::string> with_tool(std::vector<std::string> args, program p)
    {
        std::vector<std::string> cmd = p == program::of_build ? tool_command("lorvex-recv")
                                                              : std::vector<std::string>{(tool_dir() / "lorvex-recv").string()};
        args.insert(args.begin(), cmd.begin(), cmd.end());
        return args;
    }

    int port_ = 0;
    bool wine_ = false;
};

// The numbers of its summary line, by name.
inline std::map<std::string, long> summary(const std::vector<std::string> &lines)
{
    std::map<std::string, long> out;
    for (const auto &l : lines)
        if (l.rfind("summary:", 0) == 0) {
            std::istringstream in(l.substr(8));
            std::string key;
            for (long v; in >> key >> v;)
                out[key] = v;
        }
    return out;
}

inline std::string joined(const std::vector<std::string> &lines)
{
    std::string out;
    for (const auto &l : lines)
        out += l + "\n";
    return out;
}

} // namespace lorvex::test
