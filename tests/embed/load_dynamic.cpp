// Libraries as plug-in files, opened by Pd's own loader in the loader instance.
#include "runner.hpp"

#include <m_pd.h>
extern "C" {
#include <s_stuff.h>
}

#include <dlfcn.h>

namespace lvxrun {

void prepare() {}

bool load_library(const std::string &name) { return sys_load_lib(nullptr, name.c_str()) != 0; }

void bind_library(const std::string &name)
{
    // Pd opens plug-ins with their names visible to all.
    using bind_fn = void (*)();
    if (auto fn = reinterpret_cast<bind_fn>(dlsym(RTLD_DEFAULT, (name + "_bind").c_str())))
        fn();
}

} // namespace lvxrun
