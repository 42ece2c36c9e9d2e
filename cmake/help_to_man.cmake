# Writes a manual page from a program's --help and --version output, so that the
# page and the program cannot disagree.
#   cmake -DPROGRAM=path -DNAME=nkitool -DSUMMARY="..." -DOUT=nkitool.1 -P help_to_man.cmake
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed (${rc})")
endif()
execute_process(COMMAND ${PROGRAM} --version OUTPUT_VARIABLE version RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --version failed (${rc})")
endif()
string(REGEX MATCH "^[^\n]*" first_line "${version}")
string(REGEX REPLACE "^${NAME} " "" version_number "${first_line}")

# troff: backslashes doubled, hyphens of options kept as minus signs, and no line
# may begin with a dot or an apostrophe.
function(escape text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The usage line is the synopsis; the rest is split at its section headings
# ("Commands:", "Options:") and paragraphs.
string(REGEX MATCH "^usage: [^\n]*" usage "${help}")
string(REGEX REPLACE "^usage: " "" usage "${usage}")
string(REGEX REPLACE "^usage: [^\n]*\n\n?" "" body "${help}")
escape("${usage}" usage)
escape("${body}" body)
string(REGEX REPLACE "(^|\n)([A-Z][A-Za-z ]*):\n" "\\1.fi\n.SH \\2\n.nf\n" body "${body}")
string(TOUPPER "${NAME}" upper)
file(WRITE ${OUT}
".TH ${upper} 1 \"\" \"${NAME} ${version_number}\" \"User Commands\"
.SH NAME
${NAME} \\- ${SUMMARY}
.SH SYNOPSIS
.B ${usage}
.SH DESCRIPTION
${DESCRIPTION}
.nf
${body}
.fi
.SH SEE ALSO
.BR pcscd (8)
")
