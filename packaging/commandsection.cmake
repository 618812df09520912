# Writes the manual page's section of every command from the commands' own --help, behind
# the hand-written sections:  cmake -DPROGRAM=tilvex -DBASE=tilvex.h2m -DOUTPUT=file -P this
file(READ ${BASE} text)
string(APPEND text "\n[COMMANDS]\n")
foreach(command IN ITEMS split compile info)
  execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${command} --help failed")
  endif()
  # Backslashes and dashes as roff wants them; a leading dot or quote would be a request.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REPLACE "-" "\\-" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND text ".SS \"tilvex ${command}\"\n.nf\n${help}.fi\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
