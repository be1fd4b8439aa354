# The library for programs that compile plug-ins in (embedded Pd): every class
# of the multi-instance flavour in one static archive, with lorvex_setup() to
# register them all and the header embed/lorvex.h, in build/lorvex-embed/.
#
# Each plug-in is first linked into one relocatable object whose hidden
# symbols but the ones it exports are then made local (cmake/close-object.sh):
# inside the archive, as in its own shared object, a plug-in sees only its
# own helpers and template instances, never those of another plug-in or of
# the program that happen to have the same name.

set(LORVEX_EMBED_DIR ${CMAKE_BINARY_DIR}/lorvex-embed)
file(MAKE_DIRECTORY ${LORVEX_EMBED_DIR}/objects)

# lorvex_setup_name(<out> <class>): the setup function Pd calls for a class:
# <name>_setup with "~" written "_tilde", or setup_<name> with each character
# that is no identifier's written 0x<hex> (plug-roster: setup_plug0x2droster).
function(lorvex_setup_name out class)
  string(REPLACE "~" "_tilde" name "${class}")
  if(name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    set(${out} "${name}_setup" PARENT_SCOPE)
    return()
  endif()
  set(coded "")
  string(LENGTH "${class}" n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE ${last})
    string(SUBSTRING "${class}" ${i} 1 c)
    if(c MATCHES "[A-Za-z0-9_]")
      string(APPEND coded "${c}")
    else()
      string(HEX "${c}" hex)
      string(APPEND coded "0x${hex}")
    endif()
  endforeach()
  set(${out} "setup_${coded}" PARENT_SCOPE)
endfunction()

# lorvex_embed_archive(<target> <archive> OBJECTS <object libraries...>
#   [SOURCES <more sources>] [LIBS <usage requirements>]): <archive> from the
# object libraries, each closed into one object of its own, and SOURCES
# compiled as they are.
function(lorvex_embed_archive target archive)
  cmake_parse_arguments(E "" "" "OBJECTS;SOURCES;LIBS" ${ARGN})
  get_filename_component(dir ${archive} DIRECTORY)
  set(closed "")
  foreach(lib ${E_OBJECTS})
    set(o ${dir}/objects/${lib}.o)
    add_custom_command(OUTPUT ${o}
      COMMAND ${PROJECT_SOURCE_DIR}/cmake/close-object.sh ${CMAKE_LINKER} ${CMAKE_OBJCOPY}
        ${CMAKE_NM} ${o} $<TARGET_OBJECTS:${lib}>
      DEPENDS ${lib} $<TARGET_OBJECTS:${lib}> ${PROJECT_SOURCE_DIR}/cmake/close-object.sh
      COMMAND_EXPAND_LISTS VERBATIM)
    list(APPEND closed ${o})
  endforeach()
  set(extra "")
  set(extra_target "")
  if(E_SOURCES)
    add_library(${target}_extra OBJECT ${E_SOURCES})
    target_link_libraries(${target}_extra PRIVATE lorvex_options_multi ${E_LIBS})
    set_target_properties(${target}_extra PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_compile_options(${target}_extra PRIVATE -fno-exceptions)
    lorvex_hide(${target}_extra)
    set(extra $<TARGET_OBJECTS:${target}_extra>)
    set(extra_target ${target}_extra)
  endif()
  add_custom_command(OUTPUT ${archive}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${archive}
    COMMAND ${CMAKE_AR} rcs ${archive} ${closed} ${extra}
    DEPENDS ${closed} ${extra} ${extra_target}
    COMMAND_EXPAND_LISTS VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${archive})
endfunction()

# Every class but radixset, which registers none and changes the process's
# locale when loaded: a program asks for that itself.
get_property(embed_entries GLOBAL PROPERTY LORVEX_EMBED_CLASSES)
set(embed_objects "")
set(embed_decls "")
set(embed_calls "")
foreach(entry ${embed_entries})
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 class)
  list(GET fields 1 target)
  list(APPEND embed_objects ${target}_objects)
  lorvex_setup_name(setup ${class})
  string(APPEND embed_decls "void ${setup}(void);\n")
  if(NOT class STREQUAL "radixset")
    string(APPEND embed_calls "    ${setup}();\n")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/embed/lorvex_setup.cpp.in
  ${LORVEX_EMBED_DIR}/lorvex_setup.cpp @ONLY)
get_property(jack_source GLOBAL PROPERTY LORVEX_EMBED_JACK_SOURCE)
lorvex_embed_archive(lorvex_embed ${LORVEX_EMBED_DIR}/liblorvex-embed.a
  OBJECTS ${embed_objects}
  SOURCES ${LORVEX_EMBED_DIR}/lorvex_setup.cpp ${jack_source}
  LIBS ${JACK_LIBRARY})
target_include_directories(lorvex_embed_extra PRIVATE ${PROJECT_SOURCE_DIR}/embed
  ${PROJECT_SOURCE_DIR}/jack)
configure_file(${PROJECT_SOURCE_DIR}/embed/lorvex.h ${LORVEX_EMBED_DIR}/lorvex.h COPYONLY)
# The help patches, as a program that compiles the classes in ships them.
file(GLOB embed_patches ${LORVEX_MULTI_OUTPUT_DIR}/*.pd)
file(COPY ${embed_patches} DESTINATION ${LORVEX_EMBED_DIR})
