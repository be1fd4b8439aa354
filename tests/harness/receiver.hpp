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
    explicit Receiver(std::vector<std::string> args) : Child(with_tool(std::move(args)))
    {
        auto m = wait_for_match(R"(^listening on (tcp|udp) port (\d+)$)", 10);
        port_ = m.size() == 3 ? std::stoi(m[2]) : 0;
    }

    int port() const { return port_; }

    using Child::finish;
    // Stops it (as Ctrl-C would) and answers all it printed.
    std::vector<std::string> finish() { return finish(SIGTERM); }

private:
    static std::vector<std::string> with_tool(std::vector<std::string> args)
    {
        args.insert(args.begin(), (tool_dir() / "lorvex-recv").string());
        return args;
    }

    int port_ = 0;
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
