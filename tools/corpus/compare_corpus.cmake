# SPDX-License-Identifier: LGPL-2.1-or-later
# Renders the corpus with the default build on one vector path (PATH) and
# with the reference build, and fails on the first differing byte, naming
# the cases whose hashes differ. A path the processor lacks prints
# "skipped: ..." (the test's skip pattern) and compares nothing.
foreach(v FAST REF WORK PATH)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "${v} not set")
  endif()
endforeach()
set(fast_out ${WORK}/corpus_FAST_${PATH})
set(ref_out ${WORK}/corpus_REF_${PATH})
execute_process(COMMAND ${FAST} --path ${PATH} ${fast_out}.bin
                OUTPUT_FILE ${fast_out}.txt RESULT_VARIABLE rc)
if(rc EQUAL 77)
  file(READ ${fast_out}.txt why)
  message("${PATH}: ${why}")
  return()
elseif(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FAST} --path ${PATH} failed: ${rc}")
endif()
execute_process(COMMAND ${REF} ${ref_out}.bin OUTPUT_FILE ${ref_out}.txt RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${REF} failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${fast_out}.bin ${ref_out}.bin
                RESULT_VARIABLE differ)
if(differ)
  file(STRINGS ${fast_out}.txt fast)
  file(STRINGS ${ref_out}.txt ref)
  list(REMOVE_AT fast 0)  # the vector path's line
  list(LENGTH fast n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE ${last})
    list(GET fast ${i} a)
    list(GET ref ${i} b)
    if(NOT a STREQUAL b)
      message("differs: ${a}\n   ref:  ${b}")
    endif()
  endforeach()
  message(FATAL_ERROR "the corpus output differs from the reference build")
endif()
file(READ ${fast_out}.txt listing)
message("${listing}identical to the reference build")
