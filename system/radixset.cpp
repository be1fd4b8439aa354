// radixset: no object, only a load-time action. Loading it takes the process
// locale from the environment (LANG, LC_*) but keeps numbers in the "C"
// conventions, so that Pd reads and writes "0.5" whatever the language.
#include "lorvex/plugin.hpp"

#include <clocale>

LORVEX_EXPORT void radixset_setup(void)
{
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    const char *name = std::setlocale(LC_ALL, nullptr);
    post("radixset: %s", name ? name : "");
}
