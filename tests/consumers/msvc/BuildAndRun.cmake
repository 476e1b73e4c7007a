# Builds the MSVC-ABI host against the kit, as a host developer's build would, and runs it.
# Defined by the caller: KIT, ARCH (x86 or x64), TRIPLE, CLANG_CL, LLD_LINK, LLVM_DLLTOOL, WINE,
# SOURCE_DIR, WORK.

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
# clang-cl and lld-link read a leading "/" as an option, so every path they get is relative to
# WORK, where the kit's files are copied.
file(COPY ${KIT}/include/Pellorin.h ${KIT}/lib/${ARCH}/Pellorin.lib ${KIT}/bin/${ARCH}/Pellorin.dll
          ${KIT}/tools/VestabelStandIn.exe ${SOURCE_DIR}/MsvcHost.c DESTINATION ${WORK})

include(${CMAKE_CURRENT_LIST_DIR}/../Step.cmake)

# The system DLLs' import libraries, made the way Pellorin.lib is. The definitions carry the
# 32-bit __stdcall decorations; x64 has none.
if(ARCH STREQUAL "x64")
    set(machine i386:x86-64)
else()
    set(machine i386)
endif()
foreach(dll kernel32 advapi32)
    file(READ ${SOURCE_DIR}/${dll}.def definitions)
    if(ARCH STREQUAL "x64")
        string(REGEX REPLACE "@[0-9]+" "" definitions "${definitions}")
    endif()
    file(WRITE ${WORK}/${dll}.def "${definitions}")
    step(${LLVM_DLLTOOL} -m ${machine} -k -d ${dll}.def -l ${dll}.lib)
endforeach()

step(${CLANG_CL} --target=${TRIPLE} /nologo /c /Od /W4 /WX /GS- /Zl /I. MsvcHost.c /FoMsvcHost.obj)
step(${LLD_LINK} /nologo /nodefaultlib /entry:HostMain /subsystem:console /out:MsvcHost.exe
     MsvcHost.obj Pellorin.lib kernel32.lib advapi32.lib)
step(${WINE} MsvcHost.exe)
