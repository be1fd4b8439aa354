# 64-bit Windows with Debian's MinGW-w64 cross compiler, the POSIX-threads
# variant (std::thread and std::mutex need it).
# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-windows.cmake -DLORVEX_PD_WINDOWS=<folder of scripts/pd-windows>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LORVEX_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LORVEX_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LORVEX_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LORVEX_TRIPLET}-windres)

# Pd for Windows, built from Pd's source by scripts/pd-windows: its headers
# and pd.dll's import library.
if(NOT LORVEX_PD_WINDOWS AND DEFINED ENV{LORVEX_PD_WINDOWS})
  set(LORVEX_PD_WINDOWS $ENV{LORVEX_PD_WINDOWS})
endif()
set(LORVEX_PD_WINDOWS ${LORVEX_PD_WINDOWS} CACHE PATH "Pd for Windows (scripts/pd-windows)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LORVEX_PD_WINDOWS)

# libsndfile for Windows (scripts/sndfile-windows), which lorvex-recv links.
if(NOT LORVEX_SNDFILE_WINDOWS AND DEFINED ENV{LORVEX_SNDFILE_WINDOWS})
  set(LORVEX_SNDFILE_WINDOWS $ENV{LORVEX_SNDFILE_WINDOWS})
endif()
set(LORVEX_SNDFILE_WINDOWS ${LORVEX_SNDFILE_WINDOWS} CACHE PATH "libsndfile for Windows (scripts/sndfile-windows)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LORVEX_SNDFILE_WINDOWS)

set(CMAKE_FIND_ROOT_PATH /usr/${LORVEX_TRIPLET} ${LORVEX_PD_WINDOWS} ${LORVEX_SNDFILE_WINDOWS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and winpthreads linked into every program and DLL:
# a plug-in needs nothing beside it but pd.dll and Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under wine, in the build's own wine prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
