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

# Hidden visibility: a plug-in shows Pd its setup function and nothing else it does not mean to.
function(lorvex_hide target)
  set_target_properties(${target} PROPERTIES
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# lorvex_pd_module(<target> <name> <dir> <flavour> <sources...>): a module Pd
# loads, <dir>/<name>.pd_linux (<name>.dll on Windows) for single precision
# (flavour 32), or <dir>/<name>.linux-<arch>-64.so for Pd64 (flavour 64).
function(lorvex_pd_module target name dir flavour)
  add_library(${target} MODULE ${ARGN})
  if(flavour EQUAL 64)
    target_link_libraries(${target} PRIVATE lorvex_options64)
    set(suffix ${LORVEX_PD64_SUFFIX})
  else()
    target_link_libraries(${target} PRIVATE lorvex_options)
    set(suffix ${LORVEX_MODULE_SUFFIX})
  endif()
  if(WIN32)
    target_link_libraries(${target} PRIVATE ${PD_IMPORT_LIBRARY})
  endif()
  lorvex_hide(${target})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX "${suffix}" OUTPUT_NAME "${name}" LIBRARY_OUTPUT_DIRECTORY ${dir})
endfunction()

# The flavours every plug-in and probe is built in: 32, and 64 where Pd64's headers are known.
set(LORVEX_FLAVOURS 32)
if(LORVEX_PD64_INCLUDE_DIR)
  list(APPEND LORVEX_FLAVOURS 64)
endif()

# lorvex_plugin(<class> <source> [LIBS <libs...>] [HELP <patch>])
# Builds <class>.pd_linux (.dll on Windows) into build/lorvex/ with its help patch <class>-help.pd
# beside it, and <class>.linux-<arch>-64.so for Pd64 (target name with "_64").
function(lorvex_plugin class source)
  cmake_parse_arguments(P "" "HELP" "LIBS" ${ARGN})
  string(MAKE_C_IDENTIFIER "lorvex_${class}" base)
  foreach(flavour ${LORVEX_FLAVOURS})
    set(target ${base})
    if(flavour EQUAL 64)
      set(target ${base}_64)
    endif()
    lorvex_pd_module(${target} ${class} ${LORVEX_OUTPUT_DIR} ${flavour} ${source})
    target_link_libraries(${target} PRIVATE ${P_LIBS})
    # Nothing may unwind into Pd's C frames.
    target_compile_options(${target} PRIVATE -fno-exceptions)
    # Perform routines call no library functions: no loop becomes memset or memcpy.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -fno-tree-loop-distribute-patterns)
    endif()
    set_property(GLOBAL APPEND PROPERTY LORVEX_PLUGINS ${target})
  endforeach()
  if(NOT P_HELP)
    set(P_HELP ${CMAKE_CURRENT_SOURCE_DIR}/${class}-help.pd)
  endif()
  if(EXISTS ${P_HELP})
    get_filename_component(help_name ${P_HELP} NAME)
    configure_file(${P_HELP} ${LORVEX_OUTPUT_DIR}/${help_name} COPYONLY)
  endif()
endfunction()

# lorvex_tool(<name> <sources...> [LIBS <libs...>]): a command-line peer built into build/bin/.
function(lorvex_tool name)
  cmake_parse_arguments(P "" "" "LIBS" ${ARGN})
  add_executable(${name} ${P_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE lorvex_options ${P_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${LORVEX_BIN_DIR})
endfunction()
