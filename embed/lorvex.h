/* lorvex for programs that compile Pd's plug-ins in (embedded Pd, libpd):
 * link liblorvex-embed.a (built into build/lorvex-embed/ with this header),
 * the JACK client library (-ljack) and the C++ runtime (link with g++, or
 * add -lstdc++), and build against a Pd compiled with PDINSTANCE and
 * PDTHREADS, as multi-instance libpd is.
 *
 *     libpd_init();
 *     lorvex_setup();              // once per process, before any patch
 *     t_pdinstance *a = libpd_new_instance(), *b = libpd_new_instance();
 *
 * Every class is then known to every instance, present and future, on any
 * thread. What is process-wide by nature stays so: the environment
 * ([varwipe]), the locale (radixset_setup, not called by lorvex_setup), the
 * SIGPIPE disposition ([strimo~] ignores it) and the one JACK query client
 * ([plug-roster], opened when the first one is made). */
#ifndef LORVEX_EMBED_H
#define LORVEX_EMBED_H

#ifdef __cplusplus
extern "C" {
#endif

/* Registers every class of lorvex, [key] included (it takes the place of
 * Pd's built-in [key], as loading the plug-in with -lib key does). Call it
 * once per process, with a Pd instance current on the calling thread. */
void lorvex_setup(void);

/* What loading radixset does in Pd: takes the process locale from the
 * environment, numbers staying in the C conventions. Process-wide: call it
 * only if the program wants that locale. */
void radixset_setup(void);

#ifdef __cplusplus
}
#endif

#endif
