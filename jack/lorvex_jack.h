// The shared JACK client of the process, from liblorvex.so.
#pragma once

#include <jack/jack.h>

extern "C" jack_client_t *lorvex_get_jack_client(void);
