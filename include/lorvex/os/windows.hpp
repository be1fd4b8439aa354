// Windows' own headers, included one way everywhere (Winsock before
// windows.h, no min/max macros, Vista's API at least), and the two
// conversions every Windows part of lorvex needs: Pd and its patches speak
// UTF-8, Windows' wide API UTF-16. Included by the other headers of
// lorvex/os/ on Windows only.
#pragma once

#ifndef _WIN32
#error "lorvex/os/windows.hpp is for Windows builds only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <string>

namespace lorvex::os {

// UTF-8 to UTF-16; an empty text for one that is not UTF-8.
inline std::wstring wide(const char *utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, w.data(), n);
    w.resize(static_cast<std::size_t>(n - 1));
    return w;
}

inline std::wstring wide(const std::string &utf8) { return wide(utf8.c_str()); }

// UTF-16 to UTF-8.
inline std::string utf8(const wchar_t *w, int length = -1)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, length, s.data(), n, nullptr, nullptr);
    if (length < 0)
        s.resize(static_cast<std::size_t>(n - 1));
    return s;
}

// Windows' own text for a system error code (GetLastError(), a Winsock
// error), in the user's language and in UTF-8, without the line end;
// "error <code>" for a code Windows has no text for.
inline void error_text(unsigned long code, char *buf, std::size_t size)
{
    if (size == 0)
        return;
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string s = n ? utf8(text, static_cast<int>(n)) : std::string();
    if (text)
        LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    if (s.empty())
        std::snprintf(buf, size, "error %lu", code);
    else
        std::snprintf(buf, size, "%s", s.c_str());
}

} // namespace lorvex::os
