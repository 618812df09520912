# Writes tilvex(1)'s include file: the hand-written sections, and SEE ALSO naming the page of
# every command:  cmake -DCOMMANDS=split,compile,... -DBASE=tilvex.h2m -DOUTPUT=file -P this
file(READ ${BASE} text)
string(REPLACE "," ";" commands "${COMMANDS}")
set(pages)
foreach(command IN LISTS commands)
  list(APPEND pages ".BR tilvex\\-${command} (1),")
endforeach()
list(JOIN pages "\n" pages)
string(REPLACE "[SEE ALSO]\n" "[SEE ALSO]\n${pages}\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
