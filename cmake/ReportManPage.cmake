# Writes lubench-report's manual page from its own help texts, at build time:
#   cmake -DHELP2MAN=... -DREPORT=<lubench-report> -DOUTPUT=<page.1> -P ReportManPage.cmake
# help2man reads the main help and --version; each subcommand's help (those the main help's
# footer lists) follows in a section of its own. help2man hands the program's name to a shell, so
# it is run in the program's directory on the fixed name ./lubench-report, and its include file
# and output have fixed names there too: no path of the build tree reaches a command language.

foreach(variable HELP2MAN REPORT OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "ReportManPage.cmake needs -D${variable}=...")
  endif()
endforeach()
get_filename_component(program_dir "${REPORT}" DIRECTORY)
get_filename_component(program_name "${REPORT}" NAME)
if(NOT program_name STREQUAL "lubench-report")
  message(FATAL_ERROR "ReportManPage.cmake: expected the executable lubench-report, got ${REPORT}")
endif()

execute_process(COMMAND "${REPORT}" --help OUTPUT_VARIABLE main_help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lubench-report --help failed (${status})")
endif()

# The subcommands are the footer's lines "  NAME  what it does" after "Subcommands".
string(FIND "${main_help}" "Subcommands" footer_start)
if(footer_start LESS 0)
  message(FATAL_ERROR "lubench-report --help lists no subcommands")
endif()
string(SUBSTRING "${main_help}" ${footer_start} -1 footer)
string(REGEX MATCHALL "\n  [a-z]+ " subcommand_lines "${footer}")
set(subcommands "")
foreach(line IN LISTS subcommand_lines)
  string(STRIP "${line}" name)
  list(APPEND subcommands "${name}")
endforeach()
if(NOT subcommands)
  message(FATAL_ERROR "lubench-report --help's footer names no subcommand")
endif()

# Text shown as it is in roff: backslashes escaped, a line that roff would take for a request
# (a leading '.' or ') guarded.
function(as_roff text result)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

set(include_text "[SEE ALSO]\n.BR lubench (1)\n.PP\nThe documentation in\n.IR /usr/share/doc/lubench .\n")
foreach(name IN LISTS subcommands)
  execute_process(COMMAND "${REPORT}" ${name} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lubench-report ${name} --help failed (${status})")
  endif()
  as_roff("${help}" help)
  string(TOUPPER "${name}" upper)
  string(APPEND include_text "[>COMMAND ${upper}]\n.B lubench-report ${name}\n.PP\n.nf\n${help}.fi\n")
endforeach()
file(WRITE "${program_dir}/lubench-report.h2m" "${include_text}")

execute_process(
  COMMAND "${HELP2MAN}" --no-info --no-discard-stderr
          "--name=runs lubench's timed work and reports, compares and screens its figures"
          --section=1 --include=lubench-report.h2m --output=lubench-report.1.new ./lubench-report
  WORKING_DIRECTORY "${program_dir}" RESULT_VARIABLE status)
file(REMOVE "${program_dir}/lubench-report.h2m")
if(NOT status EQUAL 0)
  file(REMOVE "${program_dir}/lubench-report.1.new")
  message(FATAL_ERROR "help2man failed (${status})")
endif()
file(RENAME "${program_dir}/lubench-report.1.new" "${OUTPUT}")
