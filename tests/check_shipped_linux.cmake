# cmake -DNM=nm -DLIBRARY=libscannerlink.so -P check_shipped_linux.cmake
# A shipped Linux library runs on hidraw: no simulated bus inside it, and it reads no environment
# variable (a till's behaviour must not depend on what happens to be set in its environment).
execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY} OUTPUT_VARIABLE imports
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm cannot read ${LIBRARY}")
endif()
if(imports MATCHES "[ \t](secure_)?getenv")
    message(FATAL_ERROR "${LIBRARY} imports getenv:\n${imports}")
endif()
execute_process(COMMAND ${NM} -C ${LIBRARY} OUTPUT_VARIABLE symbols)
if(symbols MATCHES "quen::sim::")
    message(FATAL_ERROR "${LIBRARY} contains the simulated bus")
endif()
if(NOT symbols MATCHES "quen::hid::hidraw::")
    message(FATAL_ERROR "${LIBRARY} does not contain the hidraw platform")
endif()
file(STRINGS ${LIBRARY} simulated REGEX "QUENLINK_SIM|/sim/")
if(simulated)
    message(FATAL_ERROR "${LIBRARY} carries the simulated bus's strings: ${simulated}")
endif()
message(STATUS "${LIBRARY}: hidraw, no simulated bus, no getenv")
