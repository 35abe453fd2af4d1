# A text file for Windows readers: lines ending in CR LF (Notepad before
# Windows 10 1809 shows LF-only text as one line).
#
#   cmake -DIN=<file> -DOUT=<file> [-DMAN=<groff>] -P cmake/windows-text.cmake
#
# With MAN, IN is a manual page rendered first as plain ASCII text by groff
# (no bold, underline or colour sequences, which Notepad would show raw), in
# its Windows form (-rW1: the page's Windows wording) and without
# hyphenation (-rHY=0: a word split at a line end is no word to search for).
if(MAN)
  execute_process(COMMAND ${MAN} -t -man -Tascii -P-c -P-b -P-u -rW1 -rHY=0 ${IN}
                  OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "groff could not render ${IN}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
