# Checks that a DLL's export table names exactly the expected functions, undecorated (a 32-bit
# __stdcall name left as Name@NN would not bind to Java), and that it needs none of the MinGW
# runtime DLLs, which a till does not have.
# cmake -DOBJDUMP=<objdump> -DDLL=<file> -DEXPECTED=<name,name,...> -P check_exports.cmake
foreach(variable OBJDUMP DLL EXPECTED)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "${variable} not given")
    endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${result}")
endif()

# The name table follows "[Ordinal/Name Pointer] Table", one "[  n] name" line per export, and
# ends at the first empty line.
string(REPLACE "\n" ";" lines "${dump}")
set(exported "")
set(inside FALSE)
foreach(line IN LISTS lines)
    if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
        set(inside TRUE)
    elseif(inside)
        if(line MATCHES "^[ \t]*\\[ *[0-9]+\\].* ([^ \t]+)[ \t]*$")
            list(APPEND exported "${CMAKE_MATCH_1}")
        else()
            break()
        endif()
    endif()
endforeach()

string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT expected)
list(SORT exported)
get_filename_component(name ${DLL} NAME)
if(NOT exported STREQUAL expected)
    list(JOIN exported "\n  " got)
    list(JOIN expected "\n  " want)
    message(FATAL_ERROR "${name} exports\n  ${got}\nbut should export exactly\n  ${want}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
    if(import MATCHES "(libstdc|libgcc|libwinpthread)")
        message(FATAL_ERROR "${name} needs a MinGW runtime DLL: ${import}")
    endif()
endforeach()

list(LENGTH exported count)
message(STATUS "${name}: the ${count} expected exports, undecorated")
