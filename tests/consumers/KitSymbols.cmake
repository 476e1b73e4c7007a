# The kit's PDB as a Windows debugger meets it, for one architecture: the DLL's debug directory
# names the PDB by file name alone, with the PDB's GUID and age, and the PDB found beside the DLL
# turns an address inside each export into the export's function and its source file.
# Both forms of debug information name the sources below /pellorin, and neither names the folder
# they were built in. Defined by the caller: KIT, ARCH, WORK, LLVM_READOBJ, LLVM_PDBUTIL,
# LLVM_SYMBOLIZER, SOURCE_DIR.

set(dll ${KIT}/bin/${ARCH}/Pellorin.dll)
set(pdb ${KIT}/bin/${ARCH}/Pellorin.pdb)
foreach(file ${dll} ${pdb})
    if(NOT EXISTS ${file})
        message(FATAL_ERROR "missing from the kit: ${file}")
    endif()
endforeach()

function(run output)
    execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE failed)
    if(failed)
        string(REPLACE ";" " " command "${ARGN}")
        message(FATAL_ERROR "failed (${failed}): ${command}\n${errors}")
    endif()
    set(${output} "${text}" PARENT_SCOPE)
endfunction()

# The CodeView record of the DLL's debug directory: the PDB's GUID, age and name.
run(directory ${LLVM_READOBJ} --coff-debug-directory ${dll})
if(NOT directory MATCHES "PDBGUID: \\(([0-9A-F ]+)\\)\n *PDBAge: ([0-9]+)\n *PDBFileName: ([^\n]*)\n")
    message(FATAL_ERROR "no CodeView record in the debug directory of bin/${ARCH}/Pellorin.dll:\n${directory}")
endif()
set(dll_age ${CMAKE_MATCH_2})
if(NOT CMAKE_MATCH_3 STREQUAL "Pellorin.pdb")
    message(SEND_ERROR "bin/${ARCH}/Pellorin.dll names \"${CMAKE_MATCH_3}\"; a debugger on another machine finds "
                       "only \"Pellorin.pdb\", by file name beside the DLL or on its symbol path")
endif()
# The record holds the GUID as stored: the first three fields little-endian, the rest in order.
string(REPLACE " " ";" bytes "${CMAKE_MATCH_1}")
list(GET bytes 3 2 1 0 first)
list(GET bytes 5 4 second)
list(GET bytes 7 6 third)
list(SUBLIST bytes 8 8 rest)
string(REPLACE ";" "" dll_guid "{${first}-${second}-${third}-${rest}}")
string(REGEX REPLACE "^({[^-]*-[^-]*-[^-]*-....)" "\\1-" dll_guid "${dll_guid}")

# A debugger loads the PDB only when its GUID and age (the PDB stream's and the DBI stream's)
# are the record's.
run(streams ${LLVM_PDBUTIL} pdb2yaml -pdb-stream -dbi-stream ${pdb})
if(NOT streams MATCHES "PdbStream:\n  Age: +([0-9]+)\n  Guid: +'([^']+)'")
    message(FATAL_ERROR "no GUID and age in the PDB stream of bin/${ARCH}/Pellorin.pdb:\n${streams}")
endif()
set(pdb_age ${CMAKE_MATCH_1})
string(TOUPPER "${CMAKE_MATCH_2}" pdb_guid)
if(NOT streams MATCHES "DbiStream:\n  VerHeader: +[A-Za-z0-9]+\n  Age: +([0-9]+)")
    message(FATAL_ERROR "no age in the DBI stream of bin/${ARCH}/Pellorin.pdb:\n${streams}")
endif()
set(dbi_age ${CMAKE_MATCH_1})
if(NOT pdb_guid STREQUAL dll_guid)
    message(SEND_ERROR "bin/${ARCH}/Pellorin.pdb is ${pdb_guid}, the DLL asks for ${dll_guid}")
endif()
if(NOT pdb_age EQUAL dll_age OR NOT dbi_age EQUAL dll_age)
    message(SEND_ERROR "bin/${ARCH}/Pellorin.pdb has age ${pdb_age} (DBI ${dbi_age}), the DLL asks for ${dll_age}")
endif()

# The DLL and its PDB alone, as on a machine that has neither the build tree nor Pellorin.debug
# (the symbolizer would otherwise fall back on the DWARF of the debug link); the symbolizer runs
# from another folder, so it finds the PDB by the record's name beside the DLL.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/module ${WORK}/elsewhere)
file(COPY ${dll} ${pdb} DESTINATION ${WORK}/module)

run(exports ${LLVM_READOBJ} --coff-exports ${dll})
run(symbols ${LLVM_PDBUTIL} dump -symbols ${pdb})
foreach(name LaunchCheck IsSupportQuelmar UpdateComponents GetInstalledComponentList GetLatestComponentList
             SupportComponentsManagement)
    if(NOT exports MATCHES "Name: ${name}\n +RVA: 0x([0-9A-Fa-f]+)")
        message(SEND_ERROR "bin/${ARCH}/Pellorin.dll does not export ${name}:\n${exports}")
        continue()
    endif()
    math(EXPR entry "0x${CMAKE_MATCH_1}")
    # The function's length as the PDB records it; the export's entry and the middle of its body
    # must both be the function, so the PDB's addresses are the DLL's.
    if(NOT symbols MATCHES "S_GPROC32 [^\n]*`${name}`\n[^\n]*code size = ([0-9]+)")
        message(SEND_ERROR "bin/${ARCH}/Pellorin.pdb has no procedure ${name}")
        continue()
    endif()
    set(size ${CMAKE_MATCH_1})
    math(EXPR inside "${entry} + ${size} / 2" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR entry "${entry}" OUTPUT_FORMAT HEXADECIMAL)
    execute_process(COMMAND ${LLVM_SYMBOLIZER} --obj=${WORK}/module/Pellorin.dll --relative-address --no-inlines
                            ${entry} ${inside}
                    WORKING_DIRECTORY ${WORK}/elsewhere
                    OUTPUT_VARIABLE found ERROR_VARIABLE errors RESULT_VARIABLE failed)
    string(REGEX MATCHALL "[^\n]+" lines "${found}")
    set(expected "${name};/pellorin/api/exports\\.cpp:[1-9][0-9]*:[0-9]+")
    if(failed OR NOT lines MATCHES "^${expected};${expected}$")
        message(SEND_ERROR "${entry} and ${inside} in bin/${ARCH}/Pellorin.dll (${name}, ${size} bytes) do not "
                           "resolve to ${name} in /pellorin/api/exports.cpp through the PDB:\n${found}${errors}")
    endif()
endforeach()

string(REGEX REPLACE "([][+.*()^$?|\\])" "\\\\\\1" root "${SOURCE_DIR}/")
foreach(file Pellorin.debug Pellorin.pdb)
    file(STRINGS ${KIT}/bin/${ARCH}/${file} paths REGEX "${root}")
    if(paths)
        list(GET paths 0 path)
        message(SEND_ERROR "bin/${ARCH}/${file} names the build's folder: ${path}")
    endif()
endforeach()
