# Builds one sample of the kit with one toolchain, as a host developer would, and has the driver
# run it against the kit's stand-in updater. Defined by the caller: KIT, ARCH, SAMPLE (gui or
# console), TOOLCHAIN (mingw or clang-cl), DRIVER, WINE, WORK, SOURCE_DIR; for mingw
# TOOLCHAIN_FILE and GENERATOR; for clang-cl CLANG_CL, LLD_LINK, TRIPLE, MINGW_INCLUDE, MINGW_LIB.

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

include(${CMAKE_CURRENT_LIST_DIR}/../Step.cmake)

if(SAMPLE STREQUAL "gui")
    set(program PellorinGuiSample)
    set(source GuiHost.cpp)
else()
    set(program PellorinConsoleSample)
    set(source ConsoleHost.c)
endif()

if(TOOLCHAIN STREQUAL "mingw")
    # The sample's own CMakeLists, with the package of the kit.
    step(${CMAKE_COMMAND} -S ${KIT}/samples/${SAMPLE} -B ${WORK} -G ${GENERATOR}
         -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DPellorin_DIR=${KIT}/cmake -DCMAKE_BUILD_TYPE=Release)
    step(${CMAKE_COMMAND} --build ${WORK})
else()
    # clang-cl for the MSVC ABI. Without Microsoft's SDK and runtime here, the MinGW-w64 headers
    # and import libraries stand in for them (told that the compiler speaks GCC's dialect), and a
    # small entry point for the runtime's start-up. clang-cl and lld-link read a leading "/" as an
    # option, so every path they get is relative to WORK.
    file(COPY ${KIT}/include/Pellorin.h ${KIT}/lib/${ARCH}/Pellorin.lib ${KIT}/bin/${ARCH}/Pellorin.dll
              ${KIT}/samples/${SAMPLE}/${source} ${SOURCE_DIR}/NoCrtEntry.c DESTINATION ${WORK})
    set(flags /nologo /c /O1 /GR- /EHs-c- /GS- /Zl /W3 -D__GNUC__=4 -D__GNUC_MINOR__=8 -D__USE_MINGW_ANSI_STDIO=0
              -DUNICODE -D_UNICODE)
    set(link_flags)
    if(ARCH STREQUAL "x86")
        list(APPEND flags -D__i386__ -D_X86_)
        # The MinGW import libraries carry no safe exception handler tables.
        list(APPEND link_flags /safeseh:no)
    endif()
    file(CREATE_LINK ${MINGW_INCLUDE} ${WORK}/mingw-include SYMBOLIC)
    file(CREATE_LINK ${MINGW_LIB} ${WORK}/mingw-lib SYMBOLIC)
    if(SAMPLE STREQUAL "console")
        list(APPEND flags -DQM_CONSOLE_SAMPLE)
        set(subsystem console)
    else()
        set(subsystem windows)
    endif()
    step(${CLANG_CL} --target=${TRIPLE} ${flags} -imsvc mingw-include /I. ${source} NoCrtEntry.c)
    get_filename_component(object ${source} NAME_WE)
    step(${LLD_LINK} /nologo /nodefaultlib ${link_flags} /entry:SampleEntry /subsystem:${subsystem}
         /out:${program}.exe ${object}.obj NoCrtEntry.obj Pellorin.lib mingw-lib/libkernel32.a mingw-lib/libuser32.a
         mingw-lib/libgdi32.a mingw-lib/libcomctl32.a mingw-lib/libshell32.a mingw-lib/libole32.a
         mingw-lib/liboleaut32.a mingw-lib/libmsvcrt.a)
endif()

# Windows paths for the programs under Wine (drive Z: is the root).
function(windows_path out path)
    string(REPLACE "/" "\\" path "${path}")
    set(${out} "Z:${path}" PARENT_SCOPE)
endfunction()
windows_path(exe ${WORK}/${program}.exe)
windows_path(standin ${KIT}/tools/VestabelStandIn.exe)
windows_path(folder ${WORK})
# The scenario the kit ships for the samples' steps.
windows_path(scenario ${KIT}/samples/progress-scenario.txt)
step(${WINE} ${DRIVER} ${SAMPLE} ${exe} ${standin} ${folder} ${scenario})
