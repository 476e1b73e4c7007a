# Cross toolchain: 64-bit Windows through clang and lld on MinGW-w64 (posix thread model), run
# under Wine. The module, its libraries, tests and tools are built with it.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QM_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)

# CTest runs every test program through 64-bit Wine (the run script picks the prefix).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
