# Writes a program's manual page, gzip-compressed, from its --help and --version:
#
#   cmake -DHELP2MAN=help2man -DPROGRAM=/path/to/prog -DNAME=prog -DWHATIS="one line"
#         [-DCOMMANDS="new;show"] [-DEXTRA=sections.h2m] [-DSEE_ALSO="a;b"]
#         -DOUTPUT=prog.1.gz -P ManPage.cmake
#
# The program runs without a display, as it must on a build machine. COMMANDS are
# subcommands whose own --help goes into a section of the page; EXTRA holds further
# sections in help2man's include format; SEE_ALSO names other pages of section 1.
cmake_minimum_required(VERSION 3.25)

foreach(var HELP2MAN PROGRAM NAME WHATIS OUTPUT)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "ManPage.cmake: ${var} is not given")
    endif()
endforeach()

unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
unset(ENV{QT_QPA_PLATFORM})

# Text as it stands, one line each, in roff: no line may open with a request, and a
# backslash is an escape.
function(as_roff text out)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(include "")
if(DEFINED EXTRA AND NOT EXTRA STREQUAL "")
    file(READ "${EXTRA}" include)
endif()
if(COMMANDS)
    string(APPEND include "[COMMANDS]\n")
    foreach(command IN LISTS COMMANDS)
        execute_process(COMMAND "${PROGRAM}" ${command} --help
                        OUTPUT_VARIABLE help RESULT_VARIABLE status ERROR_QUIET)
        if(NOT status EQUAL 0 OR help STREQUAL "")
            message(FATAL_ERROR "${PROGRAM} ${command} --help failed (${status})")
        endif()
        # The usage line and the options keep their lines; the description between
        # them (up to the first empty line) is filled.
        string(STRIP "${help}" help)
        as_roff("${help}" help)
        string(FIND "${help}" "\n" usage_end)
        string(SUBSTRING "${help}" 0 ${usage_end} usage)
        math(EXPR rest_start "${usage_end} + 1")
        string(SUBSTRING "${help}" ${rest_start} -1 rest)
        string(FIND "${rest}" "\n\n" text_end)
        if(text_end EQUAL -1)
            set(text "${rest}")
            set(rest "")
        else()
            string(SUBSTRING "${rest}" 0 ${text_end} text)
            math(EXPR rest_start "${text_end} + 2")
            string(SUBSTRING "${rest}" ${rest_start} -1 rest)
        endif()
        string(APPEND include ".SS ${command}\n.nf\n${usage}\n.fi\n.PP\n${text}\n")
        if(NOT rest STREQUAL "")
            string(APPEND include ".PP\n.nf\n${rest}\n.fi\n")
        endif()
    endforeach()
endif()
if(SEE_ALSO)
    list(TRANSFORM SEE_ALSO APPEND " (1)")
    list(TRANSFORM SEE_ALSO PREPEND ".BR ")
    list(JOIN SEE_ALSO ",\n" see)
    string(APPEND include "[SEE ALSO]\n${see}\n")
endif()

get_filename_component(stem "${OUTPUT}" NAME_WLE)
get_filename_component(folder "${OUTPUT}" DIRECTORY)
set(page "${folder}/${stem}")
set(extra "${page}.h2m")
file(WRITE "${extra}" "${include}")

execute_process(
    COMMAND "${HELP2MAN}" --no-info --section=1 "--name=${WHATIS}" "--include=${extra}"
            "--output=${page}" "${PROGRAM}"
    RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man ${PROGRAM} failed (${status}): ${err}")
endif()

# help2man names the page by the first word of --version ("Cantavel 1.0.0.0"); the
# index of manual pages wants the command's own name.
file(READ "${page}" text)
string(REGEX REPLACE "\n\\.SH NAME\n[^ \n]+ " "\n.SH NAME\n${NAME} " text "${text}")
file(WRITE "${page}" "${text}")

execute_process(COMMAND gzip -9 -n -f "${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS "${page}.gz")
    message(FATAL_ERROR "gzip ${page} failed (${status})")
endif()
if(NOT "${page}.gz" STREQUAL "${OUTPUT}")
    file(RENAME "${page}.gz" "${OUTPUT}")
endif()
file(REMOVE "${extra}")
