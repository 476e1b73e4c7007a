# step(<command> <args>...): runs one step of a consumer's build or run in WORK and stops the
# script with the command line when it fails.
function(step)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE failed)
    if(failed)
        string(REPLACE ";" " " command "${ARGN}")
        message(FATAL_ERROR "failed (${failed}): ${command}")
    endif()
endfunction()
