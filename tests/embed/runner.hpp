// The libpd runner's two ways of getting at the classes: plug-in files Pd's
// loader opens (load_dynamic.cpp), or classes compiled into the program
// (load_static.cpp). Both run in the loader instance, once per process.
#pragma once

#include <string>
#include <vector>

namespace lvxrun {

// Called once, in the loader instance, before anything else is loaded.
void prepare();
// Loads a library named with -lib; false if there is none of that name.
bool load_library(const std::string &name);
// Makes the per-instance part of a loaded library (the test probes'
// receivers) in the instance current on this thread.
void bind_library(const std::string &name);

} // namespace lvxrun
