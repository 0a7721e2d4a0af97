# cmake -DRELEASE=<folder> -DPLATFORM=<name> -DJAVAP=<javap> -P check-release.cmake
# Checks one release folder as an integrator receives it: exactly the expected files, their
# checksums, each library exporting exactly its native methods, the Linux libraries built on
# hidraw and the Windows DLLs on the HID class library (never the simulated bus), and the jar's
# classes loadable by Java 8.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/../cmake)
include(QuenExports)
get_filename_component(folder ${RELEASE}/${PLATFORM} ABSOLUTE)
if(NOT IS_DIRECTORY ${folder})
    message(FATAL_ERROR "${folder} is missing: run scripts/release.sh")
endif()

if(PLATFORM MATCHES "^windows")
    set(libraries scannerlink scalelink)
    if(PLATFORM STREQUAL "windows-x86")
        list(APPEND libraries setuplink)
        set(objdump i686-w64-mingw32-objdump)
    else()
        set(objdump x86_64-w64-mingw32-objdump)
    endif()
    set(expected hid_probe.exe)
    foreach(library IN LISTS libraries)
        list(APPEND expected ${library}.dll)
    endforeach()
else()
    set(libraries scannerlink scalelink setuplink)
    set(expected hid_probe 70-quenlink.rules)
    foreach(library IN LISTS libraries)
        list(APPEND expected lib${library}.so)
    endforeach()
    if(PLATFORM STREQUAL "linux-aarch64")
        set(nm aarch64-linux-gnu-nm)
        set(machine "AArch64")
    else()
        set(nm nm)
        set(machine "X86-64")
    endif()
endif()
list(APPEND expected quenlink.jar README.txt SHA256SUMS)

file(GLOB present RELATIVE ${folder} ${folder}/*)
list(SORT present)
list(SORT expected)
if(NOT present STREQUAL expected)
    message(FATAL_ERROR "${PLATFORM} holds\n  ${present}\nexpected\n  ${expected}")
endif()

execute_process(COMMAND sha256sum --quiet -c SHA256SUMS WORKING_DIRECTORY ${folder}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PLATFORM}: SHA256SUMS does not match the files")
endif()

foreach(library IN LISTS libraries)
    set(exports ${QUEN_EXPORTS_${library}})
    if(PLATFORM MATCHES "^windows")
        set(file ${folder}/${library}.dll)
        list(JOIN exports "," exports)
        execute_process(COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${objdump} -DDLL=${file}
                                "-DEXPECTED=${exports}"
                                -P ${CMAKE_CURRENT_LIST_DIR}/../tests/win32/check_exports.cmake
                        RESULT_VARIABLE rc)
        execute_process(COMMAND ${objdump} -p ${file} OUTPUT_VARIABLE dump)
        if(NOT library STREQUAL "setuplink" AND NOT dump MATCHES "DLL Name: (hid|HID)\\.(dll|DLL)")
            message(FATAL_ERROR "${file} does not use the HID class library")
        endif()
    else()
        set(file ${folder}/lib${library}.so)
        execute_process(COMMAND ${CMAKE_COMMAND} -DNM=${nm} -DLIBRARY=${file}
                                "-DEXPECTED=${exports}"
                                -P ${CMAKE_CURRENT_LIST_DIR}/../tests/check_exports_elf.cmake
                        RESULT_VARIABLE rc)
        execute_process(COMMAND readelf -h ${file} OUTPUT_VARIABLE header)
        if(NOT header MATCHES "Machine:[ \t]+[^\n]*${machine}")
            message(FATAL_ERROR "${file} is not built for ${PLATFORM}")
        endif()
        execute_process(COMMAND ${nm} -D --undefined-only ${file} OUTPUT_VARIABLE imports)
        if(imports MATCHES "[ \t](secure_)?getenv")
            message(FATAL_ERROR "${file} reads the environment")
        endif()
        if(NOT library STREQUAL "setuplink")
            file(STRINGS ${file} hidraw REGEX "/sys/class/hidraw")
            if(NOT hidraw)
                message(FATAL_ERROR "${file} is not a hidraw build")
            endif()
        endif()
    endif()
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${file}: wrong exports")
    endif()
    file(STRINGS ${file} simulated REGEX "QUENLINK_SIM|sim_scenario|SimBus")
    if(simulated)
        message(FATAL_ERROR "${file} holds the simulated bus: ${simulated}")
    endif()
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -DJAVAP=${JAVAP} -DJAR=${folder}/quenlink.jar
                        "-DCLASSES=${QUEN_JAVA_CLASSES}"
                        -P ${CMAKE_CURRENT_LIST_DIR}/../tests/java/check_class_version.cmake
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PLATFORM}: quenlink.jar's classes are not all Java 8 class files")
endif()
message(STATUS "${PLATFORM}: ${expected}")
