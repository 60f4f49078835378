# Writes IN (UTF-8) to OUT in code page 932 with CR LF line ends, as Notepad on a
# Japanese Windows expects a plain text file.  cmake -DICONV=... -DIN=... -DOUT=... -P crlf_cp932.cmake
execute_process(COMMAND ${ICONV} -f UTF-8 -t CP932 ${IN}
                OUTPUT_VARIABLE text RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${IN} cannot be written in code page 932")
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
