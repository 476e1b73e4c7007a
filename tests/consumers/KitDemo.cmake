# The kit's demo as a host developer meets it: the zip unpacked on a machine that has never seen
# it (a fresh Wine prefix), "bin\x86\qmhost.exe demo" run from the kit, and the updater
# registration that was there before (a dummy path) is there again afterwards.
# Defined by the caller: ZIP, WORK.

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(ARCHIVE_EXTRACT INPUT ${ZIP} DESTINATION ${WORK})
file(GLOB kit ${WORK}/Pellorin-*)

set(ENV{WINEPREFIX} ${WORK}/prefix)
set(ENV{WINEARCH} win32)
set(ENV{WINEDEBUG} -all)
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")

function(wine_quietly)
    # The first programs of a new wineserver start services that inherit their output: none of
    # it may reach a pipe that CTest waits on.
    execute_process(COMMAND ${ARGN} INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
endfunction()
function(wine_step output)
    execute_process(COMMAND ${ARGN} INPUT_FILE /dev/null OUTPUT_VARIABLE text ERROR_VARIABLE text
                    RESULT_VARIABLE failed)
    set(${output} "${text}" PARENT_SCOPE)
    if(failed)
        string(REPLACE ";" " " command "${ARGN}")
        message(FATAL_ERROR "failed (${failed}): ${command}\n${text}")
    endif()
endfunction()

wine_quietly(wine wineboot -i)
wine_quietly(wineserver -w)
wine_quietly(wineserver -p)
wine_quietly(wine cmd /c exit)

set(key "HKLM\\SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install")
set(dummy "C:\\dummy\\updater.exe")
wine_step(ignored wine reg add ${key} /v "Vestabel exe path" /d ${dummy} /f /reg:32)

wine_step(demo wine ${kit}/bin/x86/qmhost.exe demo)
wine_step(after wine reg query ${key} /v "Vestabel exe path" /reg:32)
wine_quietly(wineserver -k)
wine_quietly(wineserver -w)

message(STATUS "${demo}")
if(NOT demo MATCHES "UpdateComponents\\(\\) += 200")
    message(FATAL_ERROR "the demo did not update the sample list")
endif()
if(NOT demo MATCHES "was C:\\\\dummy\\\\updater.exe" OR NOT demo MATCHES "back to C:\\\\dummy\\\\updater.exe")
    message(FATAL_ERROR "the demo did not say what it changed and put back")
endif()
if(NOT after MATCHES "C:\\\\dummy\\\\updater.exe")
    message(FATAL_ERROR "the registration is not as the demo found it:\n${after}")
endif()
file(REMOVE_RECURSE ${WORK})
