// liblorvex: one JACK client for the whole Pd process, opened on the first
// request and shared by every plug-in that asks. It is only used for queries:
// never activated, no ports, no callbacks, never closed.
#include "lorvex_jack.h"

#include "lorvex/os/jack.hpp"
#include "lorvex/plugin.hpp"

#include <mutex>

// The client is the process's, and so is the lock around it: in a program
// running several Pd instances, each on a thread of its own, two of them may
// ask at once, and must get the one client.
static jack_client_t *jc;
static std::mutex jc_lock;

// A null result is not remembered: the next call tries again. Errors have no
// object to point at: pd_error without one is the host's public error(),
// printed by the instance that asked. Where JACK is not installed at all
// (Windows), that is what the console says.
LORVEX_EXPORT jack_client_t *lorvex_get_jack_client(void)
{
    std::lock_guard lock(jc_lock);
    if (jc)
        return jc;
    char why[300];
    if (!lorvex::os::jack_available(why, sizeof why)) {
        pd_error(nullptr, "lorvex: JACK is not installed (%s)", why);
        return nullptr;
    }
    jack_status_t status;
    jc = lorvex::os::jack_open_client("lorvex-pd", JackNullOption, &status);
    if (status & JackServerFailed) {
        pd_error(nullptr, "lorvex: unable to connect to JACK server");
        jc = nullptr;
    }
    if (status == 0)
        return jc;
    if (status & JackServerStarted)
        verbose(1, "lorvex: started server");
    else
        pd_error(nullptr, "lorvex: server returned status %d", static_cast<int>(status));
    return jc;
}
