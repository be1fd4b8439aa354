// Finding the paths a wildcard pattern names, for pathsift: the system's
// glob() with GLOB_TILDE alone on Linux; on Windows the same pattern
// language (lorvex/glob_pattern.hpp) over Windows' directory listings, so
// that one tree gives the same paths in the same order on both.
//
// path_list has glob_t's two fields on every system: the count gl_pathc and
// the vector gl_pathv. It is a plain struct; a zero-filled one is empty.
#pragma once

#include <cstddef>

#ifdef _WIN32
#include "lorvex/glob_pattern.hpp"
#include "lorvex/os/windows.hpp"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>
#else
#include <glob.h>
#endif

namespace lorvex::os {

#ifdef _WIN32

struct path_list {
    std::size_t gl_pathc;
    char **gl_pathv;
};

// glob()'s results, with glibc's numbers.
inline constexpr int search_nospace = 1;
inline constexpr int search_aborted = 2;
inline constexpr int search_nomatch = 3;

// Windows' file system as the pattern expansion asks for it. Names come and
// go in UTF-8 (Pd's encoding), through the wide API; '/' and '\' both
// separate folders for Windows, and Pd writes '/'.
struct windows_files {
    std::string home_dir;

    bool list(const std::string &dir, std::vector<glob::entry> &out)
    {
        const std::wstring where = wide(dir + "/*");
        if (where.empty())
            return false;
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileExW(where.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
            nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        // "." and ".." are in every listing, as readdir() gives them, also
        // at the root of a drive, where Windows leaves them out.
        bool dot = false, dotdot = false;
        do {
            glob::entry e;
            e.name = utf8(found.cFileName);
            e.is_dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            dot = dot || e.name == ".";
            dotdot = dotdot || e.name == "..";
            out.push_back(std::move(e));
        } while (FindNextFileW(h, &found));
        FindClose(h);
        if (!dot)
            out.push_back({".", true});
        if (!dotdot)
            out.push_back({"..", true});
        return true;
    }

    static DWORD attributes(const std::string &path)
    {
        const std::wstring w = wide(path);
        return w.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(w.c_str());
    }

    bool exists(const std::string &path) { return attributes(path) != INVALID_FILE_ATTRIBUTES; }

    bool is_dir(const std::string &path)
    {
        const DWORD a = attributes(path);
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }

    // HOME where the user set it (as on Linux), else the profile folder,
    // written with '/' like every path Pd hands out.
    const char *home()
    {
        const wchar_t *vars[] = {L"HOME", L"USERPROFILE"};
        for (const wchar_t *v : vars) {
            const wchar_t *value = _wgetenv(v);
            if (value && *value) {
                home_dir = utf8(value);
                for (char &c : home_dir)
                    if (c == '\\')
                        c = '/';
                return home_dir.c_str();
            }
        }
        return nullptr;
    }
};

inline void free_paths(path_list *list)
{
    for (std::size_t i = 0; list->gl_pathv && i < list->gl_pathc; i++)
        std::free(list->gl_pathv[i]);
    std::free(list->gl_pathv);
    *list = path_list{};
}

// Fills `list` (empty before) with the paths `pattern` names; 0, or
// search_nomatch when there are none, search_nospace when memory ran out.
inline int search_paths(const char *pattern, path_list *list)
{
    windows_files files;
    const std::vector<std::string> found = glob::expand(files, pattern);
    if (found.empty())
        return search_nomatch;
    list->gl_pathv = static_cast<char **>(std::calloc(found.size() + 1, sizeof(char *)));
    if (!list->gl_pathv)
        return search_nospace;
    for (const std::string &path : found) {
        char *copy = static_cast<char *>(std::malloc(path.size() + 1));
        if (!copy) {
            free_paths(list);
            return search_nospace;
        }
        std::memcpy(copy, path.c_str(), path.size() + 1);
        list->gl_pathv[list->gl_pathc++] = copy;
    }
    return 0;
}

#else

using path_list = glob_t;

inline constexpr int search_nospace = GLOB_NOSPACE;
inline constexpr int search_aborted = GLOB_ABORTED;
inline constexpr int search_nomatch = GLOB_NOMATCH;

inline int search_paths(const char *pattern, path_list *list)
{
    return ::glob(pattern, GLOB_TILDE, nullptr, list);
}

// globfree() leaves the count behind; the list must read as empty.
inline void free_paths(path_list *list)
{
    ::globfree(list);
    *list = path_list{};
}

#endif

} // namespace lorvex::os
