# 64-bit ARM (Debian arm64, aarch64): what current board systems run.
# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake -DLORVEX_SYSROOT=<tree from scripts/sysroot>
set(LORVEX_TRIPLET aarch64-linux-gnu)
set(LORVEX_EMULATOR qemu-aarch64)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
