# The kit as a host developer unpacks it, for one architecture.
# Defined by the caller: KIT, ARCH, OBJDUMP (the MinGW toolchain's), MODULE (the Pellorin.dll of
# the build, which the host tests load); WINEPREFIX in the environment (the prefix of ARCH).

foreach(file include/Pellorin.h cmake/PellorinConfig.cmake cmake/PellorinConfigVersion.cmake README.md CHANGELOG.md docs/gui-sample.png samples/gui/GuiHost.cpp samples/gui/CMakeLists.txt samples/console/ConsoleHost.c samples/console/CMakeLists.txt samples/progress-scenario.txt
             tools/VestabelStandIn.exe bin/${ARCH}/Pellorin.dll bin/${ARCH}/Pellorin.pdb bin/${ARCH}/Pellorin.debug bin/${ARCH}/qmhost.exe
             lib/${ARCH}/Pellorin.lib lib/${ARCH}/libPellorin.dll.a)
    if(NOT EXISTS ${KIT}/${file})
        message(SEND_ERROR "missing from the kit: ${file}")
    endif()
endforeach()

# The DLL ships without its debug information and names the file beside it that has it.
execute_process(COMMAND ${OBJDUMP} -h ${KIT}/bin/${ARCH}/Pellorin.dll OUTPUT_VARIABLE dll)
execute_process(COMMAND ${OBJDUMP} -s -j .gnu_debuglink ${KIT}/bin/${ARCH}/Pellorin.dll OUTPUT_VARIABLE link)
execute_process(COMMAND ${OBJDUMP} -h ${KIT}/bin/${ARCH}/Pellorin.debug OUTPUT_VARIABLE debug)
if(dll MATCHES "\\.debug_info")
    message(SEND_ERROR "bin/${ARCH}/Pellorin.dll still carries its debug information")
endif()
if(NOT link MATCHES "Pellorin\\.debug")
    message(SEND_ERROR "bin/${ARCH}/Pellorin.dll has no debug link to Pellorin.debug:\n${link}")
endif()
if(NOT debug MATCHES "\\.debug_info")
    message(SEND_ERROR "bin/${ARCH}/Pellorin.debug holds no debug information")
endif()

# The DLL that ships is the one every test loaded, not a copy made afterwards.
file(SHA256 ${KIT}/bin/${ARCH}/Pellorin.dll shipped)
file(SHA256 ${MODULE} tested)
if(NOT shipped STREQUAL tested)
    message(SEND_ERROR "bin/${ARCH}/Pellorin.dll is not the ${MODULE} that the tests loaded")
endif()

# The module needs only system DLLs: each one it imports is in the system folder of a fresh
# Windows installation (of the prefix here), none of them a compiler's runtime.
if(NOT DEFINED ENV{WINEPREFIX})
    message(FATAL_ERROR "WINEPREFIX is not set: run through ./run test or ./run in ${ARCH}")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${KIT}/bin/${ARCH}/Pellorin.dll OUTPUT_VARIABLE headers)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT imports)
    message(SEND_ERROR "no imports read from bin/${ARCH}/Pellorin.dll:\n${headers}")
endif()
foreach(import IN LISTS imports)
    string(REPLACE "DLL Name: " "" import "${import}")
    string(TOLOWER "${import}" import)
    if(NOT EXISTS $ENV{WINEPREFIX}/drive_c/windows/system32/${import})
        message(SEND_ERROR "bin/${ARCH}/Pellorin.dll imports ${import}, which is no system DLL")
    endif()
endforeach()

# The export table as a DLL with ordinals 1 to 6 has it: ordinal base 1, six addresses and six
# names, each name at its ordinal (hosts that link or look up by ordinal depend on them).
string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)\n" base "${headers}")
set(base "${CMAKE_MATCH_1}")
string(REGEX MATCH "Export Address Table[ \t]+([0-9a-fA-F]+)\n[ \t]*\\[Name Pointer/Ordinal\\] Table[ \t]+([0-9a-fA-F]+)\n"
       counts "${headers}")
set(addresses "${CMAKE_MATCH_1}")
set(names "${CMAKE_MATCH_2}")
if(NOT base STREQUAL "1" OR NOT addresses MATCHES "^0*6$" OR NOT names MATCHES "^0*6$")
    message(SEND_ERROR "bin/${ARCH}/Pellorin.dll exports from ordinal base \"${base}\" \"${addresses}\" addresses "
                       "and \"${names}\" names; six of each from ordinal 1 expected")
endif()
# objdump lists each name with its ordinal less the base.
set(ordinal 1)
foreach(name LaunchCheck IsSupportQuelmar UpdateComponents GetInstalledComponentList GetLatestComponentList
             SupportComponentsManagement)
    math(EXPR index "${ordinal} - 0${base}")
    if(NOT headers MATCHES "\n\t\\[ *${index}\\] ${name}\n")
        message(SEND_ERROR "bin/${ARCH}/Pellorin.dll does not export ${name} at ordinal ${ordinal}")
    endif()
    math(EXPR ordinal "${ordinal} + 1")
endforeach()
