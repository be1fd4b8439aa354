# One function per kind of deliverable: a plug-in is a class name plus its source file.

find_path(PD_INCLUDE_DIR m_pd.h PATH_SUFFIXES pd REQUIRED)

# Windows: a plug-in is a DLL that Pd for Windows loads as <name>.dll (every
# release from 0.53 on tries it; 0.53 first tries <name>.m_amd64, 0.54 and
# later <name>.windows-amd64-32.dll, neither of which any of the others
# know). Pd's functions come from pd.dll through its import library pd.lib,
# made with pd.dll by scripts/pd-windows.
if(WIN32)
  set(LORVEX_MODULE_SUFFIX ".dll")
  find_file(PD_IMPORT_LIBRARY pd.lib PATH_SUFFIXES bin REQUIRED)
else()
  set(LORVEX_MODULE_SUFFIX ".pd_linux")
endif()

set(LORVEX_OUTPUT_DIR ${CMAKE_BINARY_DIR}/lorvex)
set(LORVEX_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(LORVEX_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/../include)
file(MAKE_DIRECTORY ${LORVEX_OUTPUT_DIR} ${LORVEX_BIN_DIR})

# Compile options every piece of lorvex shares: exact float arithmetic, clean warnings.
add_library(lorvex_common INTERFACE)
target_compile_options(lorvex_common INTERFACE
  -O2 -g -ffp-contract=off -fno-fast-math
  -Wall -Wextra -Werror
  # The vector kernels are inlined: their four-double vectors never pass a
  # call whose convention would depend on the processor's vector units.
  -Wno-psabi)
target_include_directories(lorvex_common INTERFACE ${LORVEX_INCLUDE_DIR})
target_compile_definitions(lorvex_common INTERFACE PD=1)
if(LORVEX_SANITIZE)
  target_compile_options(lorvex_common INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(lorvex_common INTERFACE -fsanitize=address,undefined)
endif()

# Single precision (Pd's float and sample 32-bit), against the system's Pd headers.
add_library(lorvex_options INTERFACE)
target_link_libraries(lorvex_options INTERFACE lorvex_common)
target_include_directories(lorvex_options SYSTEM INTERFACE ${PD_INCLUDE_DIR})
target_compile_definitions(lorvex_options INTERFACE PD_FLOATSIZE=32)

# Double precision (Pd64: Pd's float and sample 64-bit), against the headers of
# a Pd that has it (LORVEX_PD64_INCLUDE_DIR, set before this file is included;
# empty: no Pd64 flavour). Pd64 looks for <class>.linux-<arch>-64.so, so both
# flavours share one folder.
if(LORVEX_PD64_INCLUDE_DIR)
  add_library(lorvex_options64 INTERFACE)
  target_link_libraries(lorvex_options64 INTERFACE lorvex_common)
  target_include_directories(lorvex_options64 SYSTEM BEFORE INTERFACE ${LORVEX_PD64_INCLUDE_DIR})
  target_compile_definitions(lorvex_options64 INTERFACE PD_FLOATSIZE=64)
  # A double of Pd64 must never be narrowed to float without saying so.
  target_compile_options(lorvex_options64 INTERFACE -Wfloat-conversion)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64)$")
    set(LORVEX_PD64_SUFFIX ".linux-amd64-64.so")
  else()
    set(LORVEX_PD64_SUFFIX ".linux-${CMAKE_SYSTEM_PROCESSOR}-64.so")
  endif()
endif()

# Multi-instance Pd (programs that embed Pd through libpd: several Pd
# instances in one process, each with its own symbol table and its own
# pd_this per thread), against the headers of the libpd the tests run it in
# (LORVEX_MULTI_INCLUDE_DIR; empty: no such flavour). Such a Pd loads only
# plug-ins built this way, and this way only, so they get a folder of their own.
if(LORVEX_MULTI_INCLUDE_DIR)
  add_library(lorvex_options_multi INTERFACE)
  target_link_libraries(lorvex_options_multi INTERFACE lorvex_common)
  target_include_directories(lorvex_options_multi SYSTEM BEFORE INTERFACE ${LORVEX_MULTI_INCLUDE_DIR})
  target_compile_definitions(lorvex_options_multi INTERFACE PD_FLOATSIZE=32 PDINSTANCE=1 PDTHREADS=1)
  set(LORVEX_MULTI_OUTPUT_DIR ${CMAKE_BINARY_DIR}/lorvex-multi)
  file(MAKE_DIRECTORY ${LORVEX_MULTI_OUTPUT_DIR})
endif()

# Hidden visibility: a plug-in shows Pd its setup function and nothing else it does not mean to.
function(lorvex_hide target)
  set_target_properties(${target} PROPERTIES
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# A shared object names the C library among what it needs even where the
# linker would drop it as unused (Debian's links --as-needed): Pd has it
# loaded anyway, but ldd, dpkg-shlibdeps and lintian read the dependencies
# from the file.
function(lorvex_link_libc target)
  if(NOT WIN32)
    target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed,-lc,--pop-state)
  endif()
endfunction()

# lorvex_pd_module(<target> <name> <dir> <flavour> <sources...>): a module Pd
# loads, <dir>/<name>.pd_linux (<name>.dll on Windows) for single precision
# (flavour 32) and for multi-instance Pd (flavour multi; its objects, in
# <target>_objects, also go into the library for programs that compile
# plug-ins in), or <dir>/<name>.linux-<arch>-64.so for Pd64 (flavour 64).
function(lorvex_pd_module target name dir flavour)
  if(flavour STREQUAL "multi")
    add_library(${target}_objects OBJECT ${ARGN})
    target_link_libraries(${target}_objects PRIVATE lorvex_options_multi)
    set_target_properties(${target}_objects PROPERTIES POSITION_INDEPENDENT_CODE ON)
    # The statics of inline functions as plain weak symbols, which the
    # embedding library can keep to each plug-in (cmake/LorvexEmbed.cmake).
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target}_objects PRIVATE -fno-gnu-unique)
    endif()
    lorvex_hide(${target}_objects)
    add_library(${target} MODULE $<TARGET_OBJECTS:${target}_objects>)
    target_link_libraries(${target} PRIVATE lorvex_options_multi)
    set(suffix ".pd_linux")
  elseif(flavour EQUAL 64)
    add_library(${target} MODULE ${ARGN})
    target_link_libraries(${target} PRIVATE lorvex_options64)
    set(suffix ${LORVEX_PD64_SUFFIX})
  else()
    add_library(${target} MODULE ${ARGN})
    target_link_libraries(${target} PRIVATE lorvex_options)
    set(suffix ${LORVEX_MODULE_SUFFIX})
  endif()
  if(WIN32)
    target_link_libraries(${target} PRIVATE ${PD_IMPORT_LIBRARY})
  endif()
  lorvex_hide(${target})
  lorvex_link_libc(${target})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX "${suffix}" OUTPUT_NAME "${name}" LIBRARY_OUTPUT_DIRECTORY ${dir})
endfunction()

# The flavours every plug-in and probe is built in: 32, and 64 where Pd64's
# headers are known (the scenarios are built once per flavour of this list),
# and multi where a multi-instance libpd is (LORVEX_PLUGIN_FLAVOURS).
set(LORVEX_FLAVOURS 32)
if(LORVEX_PD64_INCLUDE_DIR)
  list(APPEND LORVEX_FLAVOURS 64)
endif()
set(LORVEX_PLUGIN_FLAVOURS ${LORVEX_FLAVOURS})
if(LORVEX_MULTI_INCLUDE_DIR)
  list(APPEND LORVEX_PLUGIN_FLAVOURS multi)
endif()

# The target of a plug-in or probe in one flavour: <base>, <base>_64, <base>_multi.
function(lorvex_flavour_target out base flavour)
  if(flavour STREQUAL "32")
    set(${out} ${base} PARENT_SCOPE)
  else()
    set(${out} ${base}_${flavour} PARENT_SCOPE)
  endif()
endfunction()

# lorvex_plugin(<class> <source> [LIBS <libs...>] [HELP <patch>])
# Builds <class>.pd_linux (.dll on Windows) into build/lorvex/ with its help
# patch <class>-help.pd beside it, <class>.linux-<arch>-64.so for Pd64 (target
# name with "_64"), and <class>.pd_linux for multi-instance Pd into
# build/lorvex-multi/ (target name with "_multi"; LIBS there get "_multi" too
# where such a target exists).
function(lorvex_plugin class source)
  cmake_parse_arguments(P "" "HELP" "LIBS" ${ARGN})
  string(MAKE_C_IDENTIFIER "lorvex_${class}" base)
  foreach(flavour ${LORVEX_PLUGIN_FLAVOURS})
    lorvex_flavour_target(target ${base} ${flavour})
    set(dir ${LORVEX_OUTPUT_DIR})
    set(libs ${P_LIBS})
    set(compiled ${target})
    if(flavour STREQUAL "multi")
      set(dir ${LORVEX_MULTI_OUTPUT_DIR})
      list(TRANSFORM libs REPLACE "^lorvex_jack$" "lorvex_jack_multi")
      set(compiled ${target}_objects)
      set_property(GLOBAL APPEND PROPERTY LORVEX_EMBED_CLASSES "${class}|${target}")
    endif()
    lorvex_pd_module(${target} ${class} ${dir} ${flavour} ${source})
    target_link_libraries(${target} PRIVATE ${libs})
    # Nothing may unwind into Pd's C frames.
    target_compile_options(${compiled} PRIVATE -fno-exceptions)
    # Perform routines call no library functions: no loop becomes memset or memcpy.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${compiled} PRIVATE -fno-tree-loop-distribute-patterns)
    endif()
    if(flavour STREQUAL "multi")
      # The headers of the libraries linked (liblorvex's) are needed to compile.
      target_link_libraries(${compiled} PRIVATE ${libs})
    endif()
    set_property(GLOBAL APPEND PROPERTY LORVEX_PLUGINS ${target})
  endforeach()
  if(NOT P_HELP)
    set(P_HELP ${CMAKE_CURRENT_SOURCE_DIR}/${class}-help.pd)
  endif()
  if(EXISTS ${P_HELP})
    get_filename_component(help_name ${P_HELP} NAME)
    configure_file(${P_HELP} ${LORVEX_OUTPUT_DIR}/${help_name} COPYONLY)
    if(LORVEX_MULTI_OUTPUT_DIR)
      configure_file(${P_HELP} ${LORVEX_MULTI_OUTPUT_DIR}/${help_name} COPYONLY)
    endif()
  endif()
endfunction()

# lorvex_tool(<name> <sources...> [LIBS <libs...>]): a command-line peer built into build/bin/.
function(lorvex_tool name)
  cmake_parse_arguments(P "" "" "LIBS" ${ARGN})
  add_executable(${name} ${P_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE lorvex_options ${P_LIBS})
  target_compile_definitions(${name} PRIVATE LORVEX_VERSION="${PROJECT_VERSION}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${LORVEX_BIN_DIR})
endfunction()
