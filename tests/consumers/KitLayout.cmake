# The kit as a host developer unpacks it, for one architecture.
# Defined by the caller: KIT, ARCH, OBJDUMP (the MinGW toolchain's).

foreach(file include/Pellorin.h cmake/PellorinConfig.cmake cmake/PellorinConfigVersion.cmake README.md CHANGELOG.md docs/gui-sample.png samples/gui/GuiHost.cpp samples/gui/CMakeLists.txt samples/console/ConsoleHost.c samples/console/CMakeLists.txt
             tools/VestabelStandIn.exe bin/${ARCH}/Pellorin.dll bin/${ARCH}/Pellorin.debug bin/${ARCH}/qmhost.exe
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
