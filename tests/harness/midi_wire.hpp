// Pd's MIDI output on the wire: FIFOs at /dev/midi0..2 that Pd's OSS MIDI
// output writes raw bytes to, read back by the test (see MidiWire).
#pragma once

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lorvex::test {

// Three FIFOs at /dev/midi0..2, opened for reading before Pd starts. The /dev
// names are machine-wide: a lock file keeps test runs (from any checkout)
// apart, whatever was at a path is moved aside and put back, and a run
// killed half-way is cleaned up by the next one through the lock file's notes.
class MidiWire {
public:
    static constexpr int devices = 3;

    MidiWire() = default;
    MidiWire(const MidiWire &) = delete;
    MidiWire &operator=(const MidiWire &) = delete;
    ~MidiWire() { close_all(); }

    // Empty on success, otherwise what went wrong.
    std::string open()
    {
        lock_ = ::open(lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock_ < 0 || flock(lock_, LOCK_EX) != 0)
            return std::string("cannot lock ") + lock_path + ": " + std::strerror(errno);
        recover();
        for (int i = 0; i < devices; i++) {
            std::filesystem::path p = path(i);
            struct stat st;
            if (lstat(p.c_str(), &st) == 0) {
                if (rename(p.c_str(), saved(i).c_str()) != 0)
                    return "cannot move " + p.string() + " aside: " + std::strerror(errno);
                moved_[i] = true;
            }
            note();
            if (mkfifo(p.c_str(), 0600) != 0)
                return "mkfifo " + p.string() + ": " + std::strerror(errno);
            made_[i] = true;
            note();
            fds_[i] = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fds_[i] < 0)
                return "cannot open " + p.string() + ": " + std::strerror(errno);
        }
        return {};
    }

    // Pd's 1-based device numbers of the three FIFOs, "a,b,c". Pd numbers
    // /dev/midi first, then /dev/midiN and /dev/midi0N for N = 0..9, at most ten.
    std::string outdevs() const
    {
        std::vector<std::filesystem::path> listed;
        auto add = [&](const std::filesystem::path &p) {
            if (listed.size() < 10 && std::filesystem::exists(p))
                listed.push_back(p);
        };
        add("/dev/midi");
        for (int n = 0; n < 10; n++) {
            add("/dev/midi" + std::to_string(n));
            char two[32];
            std::snprintf(two, sizeof two, "/dev/midi%2.2d", n);
            add(two);
        }
        std::string out;
        for (int i = 0; i < devices; i++) {
            auto at = std::find(listed.begin(), listed.end(), path(i));
            if (at == listed.end())
                return {};
            out += (i ? "," : "") + std::to_string(at - listed.begin() + 1);
        }
        return out;
    }

    // Everything each FIFO received so far.
    std::array<std::vector<unsigned char>, devices> drain()
    {
        std::array<std::vector<unsigned char>, devices> out;
        for (int i = 0; i < devices; i++) {
            unsigned char buf[4096];
            ssize_t n;
            while (fds_[i] >= 0 && (n = read(fds_[i], buf, sizeof buf)) > 0)
                out[i].insert(out[i].end(), buf, buf + n);
        }
        return out;
    }

private:
    static constexpr const char *lock_path = "/tmp/lorvex-midi.lock";
    static std::filesystem::path path(int i) { return "/dev/midi" + std::to_string(i); }
    static std::filesystem::path saved(int i) { return "/dev/.lorvex-saved-midi" + std::to_string(i); }

    // The lock file lists the FIFOs this run made and the paths it moved aside.
    void note()
    {
        std::string text;
        for (int i = 0; i < devices; i++) {
            if (made_[i])
                text += "made " + std::to_string(i) + "\n";
            if (moved_[i])
                text += "moved " + std::to_string(i) + "\n";
        }
        if (ftruncate(lock_, 0) == 0 && pwrite(lock_, text.data(), text.size(), 0) < 0)
            std::perror("lorvex-midi.lock");
    }

    // Undoes what a run that never got to clean up left behind.
    void recover()
    {
        std::ifstream in(lock_path);
        std::string what;
        int i;
        while (in >> what >> i) {
            if (i < 0 || i >= devices)
                continue;
            struct stat st;
            if (what == "made" && lstat(path(i).c_str(), &st) == 0 && S_ISFIFO(st.st_mode))
                unlink(path(i).c_str());
            if (what == "moved" && lstat(saved(i).c_str(), &st) == 0)
                rename(saved(i).c_str(), path(i).c_str());
        }
    }

    void close_all()
    {
        for (int i = 0; i < devices; i++) {
            if (fds_[i] >= 0)
                close(fds_[i]);
            if (made_[i])
                unlink(path(i).c_str());
            if (moved_[i])
                rename(saved(i).c_str(), path(i).c_str());
            made_[i] = moved_[i] = false;
        }
        if (lock_ >= 0) {
            note();
            close(lock_);
        }
    }

    int lock_ = -1;
    std::array<int, devices> fds_{-1, -1, -1};
    std::array<bool, devices> made_{};
    std::array<bool, devices> moved_{};
};

inline std::string hex(const std::vector<unsigned char> &bytes)
{
    std::string out;
    for (unsigned char b : bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += (out.empty() ? "" : " ") + std::string(buf);
    }
    return out;
}

} // namespace lorvex::test
