# 32-bit x86 (Debian i386). SSE2 arithmetic, so that float results match the
# other targets instead of carrying x87's extended precision.
set(LORVEX_TRIPLET i686-linux-gnu)
set(LORVEX_MULTIARCH i386-linux-gnu)
set(LORVEX_EMULATOR qemu-i386)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
