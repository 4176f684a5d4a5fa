# Run by ctest: fails when a long option that `boxsim --help` lists is missing from boxsim(1).
#   cmake -DBOXSIM=<program> -DMANUAL=<boxsim.1> -P check_manual_options.cmake

foreach(var BOXSIM MANUAL)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} not given")
    endif()
endforeach()

execute_process(COMMAND "${BOXSIM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "boxsim --help failed: ${result}")
endif()
# Only the option column: the descriptions mention options too.
string(REGEX MATCHALL "\n  (-[a-z], )?--[a-z][a-z-]*" option_lines "${help}")
if(NOT option_lines)
    message(FATAL_ERROR "no options found in boxsim --help:\n${help}")
endif()

file(READ "${MANUAL}" manual)
set(undocumented "")
foreach(line IN LISTS option_lines)
    string(REGEX MATCH "--[a-z][a-z-]*" option "${line}")
    # The tag line of an entry (".TP", then ".BI \-\-baud " rate""): roff writes each hyphen as \-, and
    # the next character must end the name, so that --silence-at does not pass for --silence.
    string(REPLACE "-" "\\\\-" pattern "${option}")
    if(NOT manual MATCHES "\n\\.TP\n\\.B[IR]? [^\n]*${pattern}([^a-z\\\\]|\n)")
        list(APPEND undocumented "${option}")
    endif()
endforeach()
if(undocumented)
    message(FATAL_ERROR "boxsim(1) does not document: ${undocumented}")
endif()
list(LENGTH option_lines count)
message(STATUS "boxsim(1) documents all ${count} options of boxsim --help")
