# cmake -DTOOL=<kit>/bin/demo -P run_sample.cmake
# Runs the tool as a user would and shows its output and exit status.
set(args --standalone "two words" "back\\slash" "say \"hi\"" --exit=3)
set(shown "")
foreach(arg IN LISTS args)
  string(APPEND shown " '${arg}'")
endforeach()
message(STATUS "Running: ${TOOL}${shown}")
execute_process(COMMAND ${TOOL} ${args} RESULT_VARIABLE status)
message(STATUS "The launcher exited with status ${status}")
if(NOT status EQUAL 3)
  message(FATAL_ERROR "expected the script's status 3")
endif()
