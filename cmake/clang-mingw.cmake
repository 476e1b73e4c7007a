# What the clang toolchains (clang-mingw-i686.cmake, clang-mingw-x86_64.cmake) share: clang
# and lld in MinGW mode, on the headers, C++ runtime and libraries of the MinGW-w64 g++ 12
# installation (posix threads), so that the module's own code gets CodeView debug information and
# lld writes a PDB that Windows debuggers read. The includer sets QM_MINGW_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)

# clang 19 from Debian's clang-19 package: clang 14 writes each object's compiler command line,
# with this machine's folders, into the CodeView it hands to the PDB, and has no switch against it.
set(CMAKE_C_COMPILER   clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET   ${QM_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${QM_MINGW_TRIPLE})
# Resources, import libraries and the binary checks stay with the MinGW binutils; CMake would
# otherwise look for unprefixed tools beside clang, which are the build machine's own.
set(CMAKE_RC_COMPILER ${QM_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL     ${QM_MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJDUMP     ${QM_MINGW_TRIPLE}-objdump)
set(CMAKE_AR          llvm-ar)
set(CMAKE_RANLIB      llvm-ranlib)

# clang's driver does not recognise g++'s library folder ("12-posix" is no version to it) and,
# left alone, would search the build machine's /usr/include. The sysroot is MinGW-w64's headers
# and import libraries; g++'s folder supplies libstdc++'s headers, libstdc++, libgcc and its
# crtbegin.o/crtend.o (which register the 32-bit unwinder's frame tables; MinGW-w64's own pair
# in the sysroot does not). -B makes the driver take those two from there.
execute_process(COMMAND ${QM_MINGW_TRIPLE}-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE QM_GCC_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed OR NOT EXISTS "${QM_GCC_LIBGCC}")
    message(FATAL_ERROR "${QM_MINGW_TRIPLE}-g++-posix is needed for its C++ runtime and libraries")
endif()
get_filename_component(QM_GCC_DIR ${QM_GCC_LIBGCC} DIRECTORY)
set(CMAKE_SYSROOT /usr/${QM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libstdc++ was built by g++, which emulates thread-local variables on this target; clang would
# use the platform's TLS and miss the runtime's copies (and the module's own
# __emutls_get_address, api/ModuleEntry.cpp).
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT "-femulated-tls -isystem ${QM_GCC_DIR}/include/c++ -isystem ${QM_GCC_DIR}/include/c++/${QM_MINGW_TRIPLE} -isystem ${QM_GCC_DIR}/include/c++/backward")
# lld would leave out the unwind tables of libstdc++'s inline and template functions (see
# AssociateUnwindTables.py): programs link a copy of libstdc++ whose tables are tied to their
# functions, made once per build tree, ahead of g++'s own (QM_RUNTIME_COPY, which the project
# also names among each program's libraries, so that a new copy relinks them). The copy is keyed
# on the content of g++'s library and of the patcher, recorded beside it, not on their dates: a
# package installs its files with the package's own. The key is written last, so a copy left
# without one by an interrupted configure is made again.
if(NOT QM_RUNTIME_DIR)
    set(QM_RUNTIME_DIR ${CMAKE_BINARY_DIR}/runtime)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QM_RUNTIME_DIR)
set(QM_RUNTIME_COPY ${QM_RUNTIME_DIR}/libstdc++.a)
set(patcher ${CMAKE_CURRENT_LIST_DIR}/AssociateUnwindTables.py)
file(SHA256 ${QM_GCC_DIR}/libstdc++.a runtime_hash)
file(SHA256 ${patcher} patcher_hash)
set(runtime_key "${runtime_hash}  ${QM_GCC_DIR}/libstdc++.a\n${patcher_hash}  ${patcher}\n")
set(recorded_key "")
if(EXISTS ${QM_RUNTIME_COPY}.key AND EXISTS ${QM_RUNTIME_COPY})
    file(READ ${QM_RUNTIME_COPY}.key recorded_key)
endif()
if(NOT recorded_key STREQUAL runtime_key)
    find_program(QM_PYTHON NAMES python3 REQUIRED)
    find_program(QM_LLVM_RANLIB NAMES llvm-ranlib llvm-ranlib-14 REQUIRED)
    file(REMOVE ${QM_RUNTIME_COPY}.key)
    file(MAKE_DIRECTORY ${QM_RUNTIME_DIR})
    # The patcher fails when it ties no table: a libstdc++ laid out in a way it does not know
    # would otherwise link as if patched.
    execute_process(COMMAND ${QM_PYTHON} ${patcher} ${QM_GCC_DIR}/libstdc++.a ${QM_RUNTIME_COPY}.new
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${QM_LLVM_RANLIB} ${QM_RUNTIME_COPY}.new COMMAND_ERROR_IS_FATAL ANY)
    file(RENAME ${QM_RUNTIME_COPY}.new ${QM_RUNTIME_COPY})
    file(WRITE ${QM_RUNTIME_COPY}.key "${runtime_key}")
endif()

# What ./run compares with the toolchain files of today: a tree whose flags came from other ones
# is configured afresh.
set(QM_TOOLCHAIN_KEY "${QM_TOOLCHAIN_KEY}" CACHE STRING "Key of the toolchain files at this tree's first configure")

# lld 19 from Debian's lld-19 package: lld 14 writes the export table with ordinal base 0 and an
# empty slot 0 ahead of ordinals 1 to 6. clang runs it in lld's MinGW mode (-fuse-ld=lld).
find_program(QM_LD_LLD NAMES ld.lld-19)
if(NOT QM_LD_LLD)
    message(FATAL_ERROR "ld.lld-19 (Debian's lld-19) is needed to link")
endif()
# g++ of the posix thread model links the threads library itself; clang needs it named.
# The module (the one DLL) finds the patched runtime by a path relative to its own folder of the
# build (api/CMakeLists.txt): lld writes the command line into the PDB.
foreach(kind EXE SHARED MODULE)
    set(runtime_dir "-L${QM_RUNTIME_DIR} ")
    if(kind STREQUAL "SHARED")
        set(runtime_dir "")
    endif()
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld --ld-path=${QM_LD_LLD} -B${QM_GCC_DIR} ${runtime_dir}-L${QM_GCC_DIR} -pthread")
endforeach()
