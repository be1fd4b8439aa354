// What lorvex-shm asks of the system beyond a block's floats (which come
// through lorvex/os/shared_block.hpp): the status of a block, its removal,
// and the blocks there are (list, prune).
//
// Linux: System V segments. "list" shows every segment with karbox's
// permissions (0606); "prune" removes those nobody is attached to whose
// creator has exited, what a killed Pd leaves behind.
//
// Windows: named file mappings, which Windows removes when their last holder
// lets go, a killed Pd included, and never earlier. So "remove" can only say
// who still holds the block, "prune" never finds anything left behind, and
// "list" shows the blocks of the user's session (Windows lists named
// objects through its object directory).
#pragma once

#include "lorvex/os/shared_block.hpp"
#include "lorvex/shm_block.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <ctime>
#include <sstream>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#endif

namespace lorvex::shm_tool {

inline int fail(const std::string &what)
{
    std::fprintf(stderr, "lorvex-shm: %s\n", what.c_str());
    return 1;
}

// Why the block of `key` could not be reached, from the system's error.
inline std::string describe(int err, std::int32_t key)
{
    if (os::block_absent(err))
        return "no segment with key " + std::to_string(key) + " (-c creates one)";
    char text[256];
    os::block_error_text(err, text, sizeof text);
    return "key " + std::to_string(key) + ": " + text;
}

#ifdef _WIN32

inline constexpr const char *usage_of_system =
    "  remove KEY                    says who still holds the block: Windows removes\n"
    "                                it when the last program holding it lets go\n"
    "  list                          the blocks of this session: key, size, programs\n"
    "                                holding them\n"
    "  prune  [KEY...]               removes nothing: Windows leaves no block behind\n"
    "                                (not even a killed Pd's); says who holds them\n"
    "  -c   create the block (zeroed) if none has this key\n";

// Holders of a block that this program holds too.
inline long others_holding(os::block_id id)
{
    const long n = os::block_holders(id);
    return n < 0 ? -1 : n - 1;
}

// A block of the session, as list shows it.
struct segment {
    std::int32_t key = 0;
    std::int64_t bytes = -1;     // -1: unknown
    long attached = -1;          // programs holding it, -1: unknown
};

// The block of `key` looked at: its size and holders, or false when it is gone.
inline bool look_at(std::int32_t key, segment &s)
{
    int err = 0;
    const os::block_id id = os::get_block(key, 0, false, err);
    if (id == os::no_block)
        return false;
    s.key = key;
    if (void *at = os::attach_block(id, err)) {
        s.bytes = os::block_size(id, at, err);
        os::detach_block(at);
    }
    s.attached = others_holding(id);
    os::let_go_block(id);
    return true;
}

inline int status(std::int32_t key)
{
    segment s;
    if (!look_at(key, s))
        return fail(describe(ERROR_FILE_NOT_FOUND, key));
    std::printf("key %d\nname %s\nbytes %lld\nfloats %lld\nattached %ld\n", key,
        shm::windows_name(key).c_str(), static_cast<long long>(s.bytes),
        static_cast<long long>(s.bytes < 0 ? -1 : s.bytes / 4), s.attached);
    return 0;
}

// Nothing removes a block others hold: it goes with the last of them.
inline int remove_segment(std::int32_t key)
{
    segment s;
    if (!look_at(key, s))
        return fail(describe(ERROR_FILE_NOT_FOUND, key));
    std::printf("key %d: held by %ld program%s; Windows removes the block when the last of "
                "them lets go\n",
        key, s.attached, s.attached == 1 ? "" : "s");
    return 0;
}

// The keys of the blocks in the session's object directory.
inline std::vector<std::int32_t> session_keys()
{
    struct unicode_string {
        USHORT length, maximum;
        PWSTR text;
    };
    struct object_attributes {
        ULONG length;
        HANDLE root;
        unicode_string *name;
        ULONG attributes;
        void *security, *quality;
    };
    struct directory_entry {
        unicode_string name, type;
    };
    using open_directory = LONG(WINAPI *)(HANDLE *, ACCESS_MASK, object_attributes *);
    using query_directory = LONG(WINAPI *)(HANDLE, void *, ULONG, BOOLEAN, BOOLEAN, ULONG *, ULONG *);
    HMODULE nt = GetModuleHandleW(L"ntdll.dll");
    auto open = reinterpret_cast<open_directory>(
        reinterpret_cast<void *>(GetProcAddress(nt, "NtOpenDirectoryObject")));
    auto query = reinterpret_cast<query_directory>(
        reinterpret_cast<void *>(GetProcAddress(nt, "NtQueryDirectoryObject")));
    std::vector<std::int32_t> keys;
    DWORD session = 0;
    if (!open || !query || !ProcessIdToSessionId(GetCurrentProcessId(), &session))
        return keys;
    std::wstring path = L"\\Sessions\\" + std::to_wstring(session) + L"\\BaseNamedObjects";
    unicode_string name{static_cast<USHORT>(path.size() * 2), static_cast<USHORT>(path.size() * 2),
        path.data()};
    object_attributes oa{sizeof oa, nullptr, &name, 0, nullptr, nullptr};
    HANDLE dir = nullptr;
    if (open(&dir, 1 /* DIRECTORY_QUERY */, &oa) != 0)
        return keys;
    std::vector<unsigned char> buf(1 << 16);
    ULONG context = 0, length = 0;
    // One entry a call: its name and type, the texts right behind it.
    while (query(dir, buf.data(), static_cast<ULONG>(buf.size()), TRUE, FALSE, &context, &length) == 0) {
        const auto *e = reinterpret_cast<const directory_entry *>(buf.data());
        const std::string type = os::utf8(e->type.text, e->type.length / 2);
        const std::int32_t key = shm::windows_key(os::utf8(e->name.text, e->name.length / 2));
        if (type == "Section" && key > 0)
            keys.push_back(key);
    }
    CloseHandle(dir);
    std::sort(keys.begin(), keys.end());
    return keys;
}

inline std::vector<segment> karbox_segments()
{
    std::vector<segment> out;
    for (std::int32_t key : session_keys()) {
        segment s;
        if (look_at(key, s))
            out.push_back(s);
    }
    return out;
}

inline int list()
{
    std::printf("%-11s %-11s %-11s %s\n", "key", "bytes", "floats", "attached");
    for (const segment &s : karbox_segments())
        std::printf("%-11d %-11lld %-11lld %ld\n", s.key, static_cast<long long>(s.bytes),
            static_cast<long long>(s.bytes < 0 ? -1 : s.bytes / 4), s.attached);
    return 0;
}

// Windows leaves no block behind: every one there is, somebody holds.
inline int prune(const std::vector<int> &keys)
{
    const std::vector<segment> all = karbox_segments();
    for (const segment &s : all) {
        if (!keys.empty() && std::find(keys.begin(), keys.end(), s.key) == keys.end())
            continue;
        std::printf("kept key %d: held by %ld program%s (Windows removes a block with its last "
                    "holder)\n",
            s.key, s.attached, s.attached == 1 ? "" : "s");
    }
    for (int k : keys)
        if (std::none_of(all.begin(), all.end(), [k](const segment &s) { return s.key == k; }))
            std::printf("kept key %d: no block with this key\n", k);
    std::printf("removed 0 segments\n");
    return 0;
}

#else

inline constexpr const char *usage_of_system =
    "  remove KEY                    removes the segment (it goes when the last\n"
    "                                process detaches; the key is free at once)\n"
    "  list                          the segments with karbox's permissions (0606):\n"
    "                                key, id, size, processes attached, creator\n"
    "  prune  [KEY...]               removes those of them that nobody is attached\n"
    "                                to and whose creator has exited (a Pd that was\n"
    "                                killed leaves its blocks so); only the KEYs given\n"
    "  -c   create the segment (zeroed, permissions 0606) if none has this key\n";

inline int status(std::int32_t key)
{
    int id = shmget(key, 0, 0);
    shmid_ds ds{};
    if (id == -1 || shmctl(id, IPC_STAT, &ds) != 0)
        return fail(describe(errno, key));
    std::printf("key %d\nid %d\nbytes %zu\nfloats %zu\nattached %lu\ncreator %ld\nlast %ld\n"
                "mode %04o\n",
        key, id, static_cast<std::size_t>(ds.shm_segsz), static_cast<std::size_t>(ds.shm_segsz / 4),
        static_cast<unsigned long>(ds.shm_nattch), static_cast<long>(ds.shm_cpid),
        static_cast<long>(ds.shm_lpid), static_cast<unsigned>(ds.shm_perm.mode & 0777));
    return 0;
}

inline int remove_segment(std::int32_t key)
{
    int id = shmget(key, 0, 0);
    if (id == -1 || shmctl(id, IPC_RMID, nullptr) != 0)
        return fail(describe(errno, key));
    return 0;
}

// A segment as list shows it.
struct segment {
    int id = -1;
    key_t key = 0;
    std::size_t bytes = 0;
    unsigned long attached = 0;
    pid_t creator = 0;
    time_t changed = 0;
    const char *state = "";     // of the creator: "alive", "gone" or "unknown"
};

// When process `pid` started, in seconds since the epoch; -1 when unknown.
inline long long process_start(pid_t pid)
{
    std::FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f)
        return -1;
    char line[1024];
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    // The command name in parentheses may hold spaces: count fields after it.
    const char *at = got ? std::strrchr(line, ')') : nullptr;
    if (!at)
        return -1;
    unsigned long long ticks = 0;
    std::istringstream fields(at + 1);
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; i++)
        if (i == 22)
            ticks = std::strtoull(field.c_str(), nullptr, 10);
    long long boot = -1;
    if (std::FILE *st = std::fopen("/proc/stat", "r")) {
        while (std::fgets(line, sizeof line, st))
            if (std::sscanf(line, "btime %lld", &boot) == 1)
                break;
        std::fclose(st);
    }
    const long hz = sysconf(_SC_CLK_TCK);
    return boot < 0 || hz <= 0 || ticks == 0 ? -1 : boot + static_cast<long long>(ticks / static_cast<unsigned long long>(hz));
}

// Whether the process that made a segment still runs. A process under the
// same pid that started after the segment was made is another one (the pid
// was given out again). A pid of 0 (a creator outside this pid namespace)
// is unknown, never gone.
inline const char *creator_state(pid_t pid, time_t made)
{
    if (pid <= 0)
        return "unknown";
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return "gone";
    const long long started = process_start(pid);
    // The segment's time has whole seconds: a second's grace either way.
    if (started >= 0 && started > static_cast<long long>(made) + 1)
        return "gone";
    return "alive";
}

// Every segment with karbox's permissions, not already on its way out.
inline std::vector<segment> karbox_segments()
{
    std::vector<segment> out;
    shm_info info{};
    const int last = shmctl(0, SHM_INFO, reinterpret_cast<shmid_ds *>(&info));
    for (int i = 0; i <= last; i++) {
        shmid_ds ds{};
        const int id = shmctl(i, SHM_STAT, &ds);
        if (id < 0 || (ds.shm_perm.mode & 0777) != lorvex::shm::mode || (ds.shm_perm.mode & SHM_DEST))
            continue;
        segment s;
        s.id = id;
        s.key = ds.shm_perm.__key;
        s.bytes = ds.shm_segsz;
        s.attached = static_cast<unsigned long>(ds.shm_nattch);
        s.creator = ds.shm_cpid;
        s.changed = ds.shm_ctime;
        s.state = creator_state(s.creator, s.changed);
        out.push_back(s);
    }
    return out;
}

inline int list()
{
    std::printf("%-11s %-9s %-11s %-11s %-8s %s\n", "key", "id", "bytes", "floats", "attached", "creator");
    for (const segment &s : karbox_segments())
        std::printf("%-11d %-9d %-11zu %-11zu %-8lu %ld %s\n", s.key, s.id, s.bytes, s.bytes / 4, s.attached,
            static_cast<long>(s.creator), s.state);
    return 0;
}

// Why a segment stays, or nullptr when nobody uses it any more: no process
// is attached and the one that made it has exited, just what karbox leaves
// when its Pd is killed before it can remove its block.
inline const char *kept_because(const segment &s)
{
    if (s.attached != 0)
        return "processes are attached";
    if (std::strcmp(s.state, "gone") != 0)
        return std::strcmp(s.state, "alive") == 0 ? "its creator runs" : "its creator is unknown";
    return nullptr;
}

inline int prune(const std::vector<int> &keys)
{
    std::vector<segment> all = karbox_segments();
    int removed = 0;
    for (const segment &s : all) {
        const bool asked = keys.empty() || std::find(keys.begin(), keys.end(), s.key) != keys.end();
        if (!asked)
            continue;
        if (const char *why = kept_because(s)) {
            std::printf("kept key %d (id %d): %s\n", s.key, s.id, why);
            continue;
        }
        // Asked again just before: someone may have attached meanwhile.
        shmid_ds ds{};
        if (shmctl(s.id, IPC_STAT, &ds) != 0 || ds.shm_nattch != 0 || ds.shm_cpid != s.creator)
            continue;
        if (shmctl(s.id, IPC_RMID, nullptr) != 0) {
            std::printf("cannot remove key %d (id %d): %s\n", s.key, s.id, std::strerror(errno));
            continue;
        }
        std::printf("removed key %d (id %d, %zu bytes, creator %ld gone)\n", s.key, s.id, s.bytes,
            static_cast<long>(s.creator));
        removed++;
    }
    for (int k : keys)
        if (std::none_of(all.begin(), all.end(), [k](const segment &s) { return s.key == k; }))
            std::printf("kept key %d: no segment with karbox's permissions\n", k);
    std::printf("removed %d segment%s\n", removed, removed == 1 ? "" : "s");
    return 0;
}

#endif

} // namespace lorvex::shm_tool
