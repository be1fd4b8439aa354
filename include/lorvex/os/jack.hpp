// The JACK client library, as liblorvex and plug-roster call it. On Linux it
// is linked as it always was. On Windows JACK is a DLL that most systems do
// not have: it is loaded when first asked for, so that the plug-ins load
// and stay silent without it instead of failing to load at all.
#pragma once

#include <jack/jack.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include "lorvex/os/windows.hpp"
#endif

namespace lorvex::os {

#ifdef _WIN32

// The DLL that JACK for 64-bit Windows installs into the system folder.
inline constexpr const wchar_t *jack_dll = L"libjack64.dll";

struct jack_functions {
    jack_client_t *(*client_open)(const char *, jack_options_t, jack_status_t *, ...);
    const char **(*get_ports)(jack_client_t *, const char *, const char *, unsigned long);
    void (*free)(void *);
    char *(*client_name)(jack_client_t *);
};

// The functions once loaded; loading is tried again after a failure (JACK
// may be installed while Pd runs). Loaded once per process and never
// unloaded, like the client it serves.
inline jack_functions &jack_loaded()
{
    static jack_functions functions{};
    return functions;
}

template <typename F>
inline F jack_function(HMODULE lib, const char *name)
{
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(lib, name)));
}

// Whether JACK can be used; when not, `why` (if given) says why in the
// system's words.
inline bool jack_available(char *why, std::size_t size)
{
    jack_functions &f = jack_loaded();
    if (f.client_open)
        return true;
    HMODULE lib = LoadLibraryW(jack_dll);
    if (!lib) {
        if (why && size) {
            char text[200];
            error_text(GetLastError(), text, sizeof text);
            std::snprintf(why, size, "%s: %s", utf8(jack_dll).c_str(), text);
        }
        return false;
    }
    f.get_ports = jack_function<decltype(f.get_ports)>(lib, "jack_get_ports");
    f.free = jack_function<decltype(f.free)>(lib, "jack_free");
    f.client_name = jack_function<decltype(f.client_name)>(lib, "jack_get_client_name");
    auto open = jack_function<decltype(f.client_open)>(lib, "jack_client_open");
    if (!f.get_ports || !f.free || !f.client_name || !open) {
        if (why && size)
            std::snprintf(why, size, "%s lacks the functions of a JACK client library",
                utf8(jack_dll).c_str());
        return false;
    }
    f.client_open = open;
    return true;
}

inline jack_client_t *jack_open_client(const char *name, jack_options_t options, jack_status_t *status)
{
    return jack_available(nullptr, 0) ? jack_loaded().client_open(name, options, status) : nullptr;
}

inline const char **jack_ports(jack_client_t *client, const char *name_pattern, const char *type_pattern,
    unsigned long flags)
{
    return jack_available(nullptr, 0) ? jack_loaded().get_ports(client, name_pattern, type_pattern, flags)
                                      : nullptr;
}

// Gives back what jack_ports() answered (null too), to JACK's own heap.
inline void jack_free_ports(const char **ports)
{
    if (ports && jack_available(nullptr, 0))
        jack_loaded().free(static_cast<void *>(ports));
}

inline const char *jack_name(jack_client_t *client)
{
    return jack_available(nullptr, 0) ? jack_loaded().client_name(client) : "";
}

#else

inline bool jack_available(char *, std::size_t) { return true; }

inline jack_client_t *jack_open_client(const char *name, jack_options_t options, jack_status_t *status)
{
    return jack_client_open(name, options, status);
}

inline const char **jack_ports(jack_client_t *client, const char *name_pattern, const char *type_pattern,
    unsigned long flags)
{
    return jack_get_ports(client, name_pattern, type_pattern, flags);
}

inline void jack_free_ports(const char **ports)
{
    std::free(static_cast<void *>(ports));
}

inline const char *jack_name(jack_client_t *client)
{
    return jack_get_client_name(client);
}

#endif

} // namespace lorvex::os
