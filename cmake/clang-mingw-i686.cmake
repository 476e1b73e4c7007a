# Cross toolchain: 32-bit Windows through clang and lld on MinGW-w64 (posix thread model), run
# under Wine. The module, its libraries, tests and tools are built with it.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QM_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)

# CTest runs every test program through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
