# cmake -DNM=nm -DLIBRARY=path -DEXPECTED="a;b;c" -P check_exports_elf.cmake
# Fails unless the library's dynamic symbol table defines exactly the expected symbols.
execute_process(COMMAND ${NM} -D --defined-only --format=just-symbols ${LIBRARY}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "\n$" "" out "${out}")
string(REPLACE "\n" ";" actual "${out}")
list(SORT actual)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "exports of ${LIBRARY}:\n  ${actual}\nexpected:\n  ${expected}")
endif()
message(STATUS "${LIBRARY} exports exactly: ${actual}")
