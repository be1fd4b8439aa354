# The stream scenarios run the receiver tool and read the WAV files it writes.
find_library(SNDFILE_LIBRARY sndfile REQUIRED)
target_link_libraries(${name} PRIVATE ${SNDFILE_LIBRARY})
add_dependencies(${name} lorvex-recv)

# strimo~ once more with ThreadSanitizer, for the scenarios to load in its
# place (Pd itself runs with the runtime preloaded). Test-only: never installed.
# Single precision only: the Pd64 scenarios skip the ThreadSanitizer runs.
find_package(Threads REQUIRED)
if(NOT TARGET tsan_strimo)
  add_library(tsan_strimo MODULE ${CMAKE_SOURCE_DIR}/net/strimo~.cpp)
  target_link_libraries(tsan_strimo PRIVATE lorvex_options Threads::Threads)
  target_compile_options(tsan_strimo PRIVATE -fsanitize=thread -fno-exceptions)
  target_link_options(tsan_strimo PRIVATE -fsanitize=thread)
  lorvex_hide(tsan_strimo)
  set_target_properties(tsan_strimo PROPERTIES PREFIX "" SUFFIX ".pd_linux" OUTPUT_NAME "strimo~"
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/tsan)
endif()
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libtsan.so
  OUTPUT_VARIABLE LORVEX_TSAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
target_compile_definitions(${name} PRIVATE
  LORVEX_TSAN_STRIMO="${CMAKE_BINARY_DIR}/tests/tsan/strimo~"
  LORVEX_TSAN_RUNTIME="${LORVEX_TSAN_RUNTIME}")
add_dependencies(${name} tsan_strimo)
