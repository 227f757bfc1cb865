# Writes the manual page that PROGRAM prints with --man to PAGE (a .gz),
# compressed as Debian keeps manual pages.
string(REGEX REPLACE "\\.gz$" "" plain "${PAGE}")
execute_process(COMMAND "${PROGRAM}" --man OUTPUT_FILE "${plain}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --man failed: ${result}")
endif()
execute_process(COMMAND gzip -9nf "${plain}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${plain} failed: ${result}")
endif()
