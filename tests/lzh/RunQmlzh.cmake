# Drives the qmlzh tool as a user would: compress, decompress, test, and the
# failures with their exit status. Run by CTest with
#   -DQMLZH=<tool> [-DEMULATOR=<wine wrapper>] -DWORK=<scratch dir> -P RunQmlzh.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# Some text, repeated so that matches reach back across the window.
file(READ "${CMAKE_CURRENT_LIST_FILE}" text)
set(input "")
foreach(i RANGE 40)
  string(APPEND input "${i}: ${text}")
endforeach()
file(WRITE "${WORK}/plain.txt" "${input}")
file(WRITE "${WORK}/short.lzh" "!HZ")

function(run expected_status)
  execute_process(COMMAND ${EMULATOR} "${QMLZH}" ${ARGN}
    WORKING_DIRECTORY "${WORK}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL expected_status)
    message(FATAL_ERROR "qmlzh ${ARGN}: status ${status}, expected ${expected_status}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect_match text pattern)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "expected '${pattern}' in:\n${text}")
  endif()
endfunction()

run(0 c plain.txt packed.lzh)
run(0 d packed.lzh restored.txt)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/plain.txt" "${WORK}/restored.txt"
  RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "restored file differs from the original")
endif()
file(SIZE "${WORK}/plain.txt" plain_size)
file(SIZE "${WORK}/packed.lzh" packed_size)
if(NOT packed_size LESS plain_size)
  message(FATAL_ERROR "repeated text did not shrink: ${plain_size} -> ${packed_size}")
endif()

run(0 t packed.lzh)
expect_match("${out}" "packed.lzh: ok, stored ${packed_size} bytes, decoded ${plain_size} bytes")

run(1 t packed.lzh short.lzh)
expect_match("${err}" "short.lzh: Error reading from input stream !")
run(1 d missing.lzh out.txt)
expect_match("${err}" "qmlzh: Error:inputmissing.lzh")
if(EXISTS "${WORK}/out.txt")
  message(FATAL_ERROR "a failed run left its output behind")
endif()
file(SIZE "${WORK}/packed.lzh" before)
run(1 d packed.lzh ./packed.lzh)
expect_match("${err}" "is both input and output")
file(SIZE "${WORK}/packed.lzh" after)
if(NOT before EQUAL after)
  message(FATAL_ERROR "refusing the same file still changed it")
endif()
run(2)
expect_match("${err}" "usage: qmlzh c IN OUT")
run(2 x a b)
