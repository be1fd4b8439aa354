# 32-bit ARM, hard float (Debian armhf): the small boards Pd runs on.
# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DLORVEX_SYSROOT=<tree from scripts/sysroot>
set(LORVEX_TRIPLET arm-linux-gnueabihf)
set(LORVEX_EMULATOR qemu-arm)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
