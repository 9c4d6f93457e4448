# cmake -DSCDOC=... -DGZIP=... -DIN=page.1.scd -DOUT=page.1 -DEPOCH=seconds -P ManPage.cmake
# Writes OUT (roff) and OUT.gz; gzip -n leaves out the name and time, so the
# compressed page is the same on every build.
set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "scdoc failed on ${IN}")
endif()
execute_process(COMMAND ${GZIP} -9n -c ${OUT} OUTPUT_FILE ${OUT}.gz RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT}.gz)
  message(FATAL_ERROR "gzip failed on ${OUT}")
endif()
