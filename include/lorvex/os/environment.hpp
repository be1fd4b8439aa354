// Removing a variable from the environment of the Pd process, for varwipe.
// On Windows the environment that counts is the C runtime's (getenv() in
// Pd and in every plug-in, which share Windows' msvcrt.dll) together with
// the process's own block, which programs started later inherit:
// _wputenv_s() with an empty value removes the variable from both.
#pragma once

#include <cstdlib>

#ifdef _WIN32
#include "lorvex/os/windows.hpp"

#include <string>
#endif

namespace lorvex::os {

// A name the system refuses (empty, or with '=') leaves the environment as
// it was; so does a name that is not set. Nothing is reported either way.
inline void unset_variable(const char *name)
{
#ifdef _WIN32
    if (!*name)
        return;
    for (const char *c = name; *c; c++)
        if (*c == '=')
            return;
    const std::wstring w = wide(name);
    if (!w.empty())
        _wputenv_s(w.c_str(), L"");
#else
    unsetenv(name);
#endif
}

} // namespace lorvex::os
