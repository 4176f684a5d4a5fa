# Run by ctest: fails when a long option that `<program> --help` lists, or a command in its
# "Commands:" list, is missing from its manual page.
#   cmake -DPROGRAM=<program> -DMANUAL=<program.1> -P check_manual_options.cmake

foreach(var PROGRAM MANUAL)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} not given")
    endif()
endforeach()

get_filename_component(name "${PROGRAM}" NAME)
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${name} --help failed: ${result}")
endif()
# Only the option column: the descriptions mention options too.
string(REGEX MATCHALL "\n  (-[a-z], )?--[a-z][a-z-]*" option_lines "${help}")
if(NOT option_lines)
    message(FATAL_ERROR "no options found in ${name} --help:\n${help}")
endif()

# The first word of each line of a "Commands:" list, where the help has one.
set(command_lines "")
if(help MATCHES "\nCommands:\n(  [^\n]*\n)+")
    string(REGEX MATCHALL "\n  [a-z][a-z-]*" command_lines "${CMAKE_MATCH_0}")
endif()

file(READ "${MANUAL}" manual)
set(undocumented "")
foreach(line IN LISTS option_lines command_lines)
    string(REGEX MATCH "--[a-z][a-z-]*" option "${line}")
    if(NOT option)
        string(REGEX MATCH "[a-z][a-z-]*" option "${line}")
    endif()
    # The tag line of an entry (".TP", then ".BI \-\-baud " rate""): roff writes each hyphen as \-, and
    # the next character must end the name, so that --silence-at does not pass for --silence.
    string(REPLACE "-" "\\\\-" pattern "${option}")
    if(NOT manual MATCHES "\n\\.TP\n\\.B[IR]? [^\n]*${pattern}([^a-z\\\\]|\n)")
        list(APPEND undocumented "${option}")
    endif()
endforeach()
if(undocumented)
    message(FATAL_ERROR "${name}(1) does not document: ${undocumented}")
endif()
list(LENGTH option_lines options)
list(LENGTH command_lines commands)
message(STATUS "${name}(1) documents all ${options} options and ${commands} commands of ${name} --help")
