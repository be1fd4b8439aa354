# What the cross toolchains share: Debian's cross compiler for LORVEX_TRIPLET,
# libraries from a Debian tree of that architecture (LORVEX_SYSROOT, made by
# scripts/sysroot), and qemu-user to run what was built.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${LORVEX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${LORVEX_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${LORVEX_TRIPLET})

if(NOT LORVEX_SYSROOT AND DEFINED ENV{LORVEX_SYSROOT})
  set(LORVEX_SYSROOT $ENV{LORVEX_SYSROOT})
endif()
set(LORVEX_SYSROOT ${LORVEX_SYSROOT} CACHE PATH "Debian tree of the target architecture")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LORVEX_SYSROOT)

set(CMAKE_FIND_ROOT_PATH ${LORVEX_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Pd's headers are the same for every architecture; the host's serve.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

# Debian's folder of the target's libraries: the compiler's triplet unless the
# toolchain names another (i386).
if(NOT LORVEX_MULTIARCH)
  set(LORVEX_MULTIARCH ${LORVEX_TRIPLET})
endif()
set(lorvex_libdirs "-Wl,-rpath-link,${LORVEX_SYSROOT}/usr/lib/${LORVEX_MULTIARCH} -Wl,-rpath-link,${LORVEX_SYSROOT}/lib/${LORVEX_MULTIARCH}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${lorvex_libdirs}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${lorvex_libdirs}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${lorvex_libdirs}")

set(CMAKE_CROSSCOMPILING_EMULATOR ${LORVEX_EMULATOR} -L ${LORVEX_SYSROOT})
# What is built runs under emulation with the tree as the loader's prefix
# (qemu -L), which finds the libraries there: no file keeps a path into this
# machine's tree (plug-roster still finds liblorvex beside itself).
set(CMAKE_SKIP_BUILD_RPATH ON)
