# cmake -DJAVAP=javap -DJAR=quenlink.jar -DCLASSES="a.B;c.D" -P check_class_version.cmake
# Fails unless every class is a Java 8 class file (major version 52): tills still run Java 8, and
# a newer class file fails only there, at load time.
foreach(class IN LISTS CLASSES)
    execute_process(COMMAND ${JAVAP} -v -cp ${JAR} ${class} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "javap cannot read ${class} in ${JAR}")
    endif()
    string(REGEX MATCH "major version: ([0-9]+)" _ "${out}")
    if(NOT CMAKE_MATCH_1 STREQUAL "52")
        message(FATAL_ERROR "${class}: class file major version ${CMAKE_MATCH_1}, want 52 (Java 8)")
    endif()
endforeach()
message(STATUS "Java 8 class files: ${CLASSES}")
