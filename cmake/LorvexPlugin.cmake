# One function per kind of deliverable: a plug-in is a class name plus its source file.

find_path(PD_INCLUDE_DIR m_pd.h PATH_SUFFIXES pd REQUIRED)

set(LORVEX_OUTPUT_DIR ${CMAKE_BINARY_DIR}/lorvex)
set(LORVEX_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(LORVEX_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/../include)
file(MAKE_DIRECTORY ${LORVEX_OUTPUT_DIR} ${LORVEX_BIN_DIR})

# Compile options every piece of lorvex shares: exact float arithmetic, clean warnings.
add_library(lorvex_options INTERFACE)
target_compile_options(lorvex_options INTERFACE
  -O2 -g -ffp-contract=off -fno-fast-math
  -Wall -Wextra -Werror)
target_include_directories(lorvex_options INTERFACE ${LORVEX_INCLUDE_DIR})
target_include_directories(lorvex_options SYSTEM INTERFACE ${PD_INCLUDE_DIR})
target_compile_definitions(lorvex_options INTERFACE PD=1 PD_FLOATSIZE=32)
if(LORVEX_SANITIZE)
  target_compile_options(lorvex_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(lorvex_options INTERFACE -fsanitize=address,undefined)
endif()

# Hidden visibility: a plug-in shows Pd its setup function and nothing else it does not mean to.
function(lorvex_hide target)
  set_target_properties(${target} PROPERTIES
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# lorvex_plugin(<class> <source> [LIBS <libs...>] [HELP <patch>])
# Builds <class>.pd_linux into build/lorvex/ with its help patch <class>-help.pd beside it.
function(lorvex_plugin class source)
  cmake_parse_arguments(P "" "HELP" "LIBS" ${ARGN})
  string(MAKE_C_IDENTIFIER "lorvex_${class}" target)
  add_library(${target} MODULE ${source})
  target_link_libraries(${target} PRIVATE lorvex_options ${P_LIBS})
  # Nothing may unwind into Pd's C frames.
  target_compile_options(${target} PRIVATE -fno-exceptions)
  # Perform routines call no library functions: no loop becomes memset or memcpy.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -fno-tree-loop-distribute-patterns)
  endif()
  lorvex_hide(${target})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX ".pd_linux" OUTPUT_NAME "${class}"
    LIBRARY_OUTPUT_DIRECTORY ${LORVEX_OUTPUT_DIR})
  set_property(GLOBAL APPEND PROPERTY LORVEX_PLUGINS ${target})
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
