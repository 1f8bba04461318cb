# Remakes the effect animation with its script and compares it with the
# committed file: the GIF in the repository must be what the script draws.
execute_process(COMMAND ${PYTHON} ${SCRIPT} ${OUT} RESULT_VARIABLE made OUTPUT_QUIET)
if(made)
  message(FATAL_ERROR "${SCRIPT} failed (${made})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${GIF} RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "${GIF} is not what ${SCRIPT} makes: run the script and commit its output")
endif()
