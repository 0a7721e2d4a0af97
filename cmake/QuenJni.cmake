# Locates the JNI headers. Only the headers are needed: the libraries are loaded by a JVM and link
# against nothing of it. Cross builds for Windows use the JDK's jni.h with the project's own
# jni_md.h for Windows (cmake/jni-win32).
# The JDK is the one whose javac is on the PATH (or JAVA_HOME's).
find_program(QUEN_JAVAC javac HINTS ENV JAVA_HOME PATH_SUFFIXES bin NO_CMAKE_FIND_ROOT_PATH)
if(QUEN_JAVAC)
    get_filename_component(QUEN_JAVAC_REAL ${QUEN_JAVAC} REALPATH)
    get_filename_component(QUEN_JDK_HOME ${QUEN_JAVAC_REAL} DIRECTORY)
    get_filename_component(QUEN_JDK_HOME ${QUEN_JDK_HOME} DIRECTORY)
endif()
find_path(QUEN_JNI_INCLUDE jni.h PATHS ${QUEN_JDK_HOME}/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUEN_JNI_INCLUDE)
    message(FATAL_ERROR "jni.h not found: install a JDK (openjdk-17-jdk-headless)")
endif()
if(WIN32)
    set(QUEN_JNI_INCLUDE_DIRS ${CMAKE_CURRENT_LIST_DIR}/jni-win32 ${QUEN_JNI_INCLUDE})
else()
    set(QUEN_JNI_INCLUDE_DIRS ${QUEN_JNI_INCLUDE} ${QUEN_JNI_INCLUDE}/linux)
endif()

set(QUEN_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})

add_library(quen_jni_headers INTERFACE)
target_include_directories(quen_jni_headers SYSTEM INTERFACE ${QUEN_JNI_INCLUDE_DIRS})

# quen_add_jni_library(name SOURCES ... LINK ... DESCRIPTION text)
# A JNI shared library as the JVM loads it: scannerlink.dll on Windows (no lib prefix, plain
# export names, no MinGW runtime DLLs to ship), libscannerlink.so elsewhere.
function(quen_add_jni_library name)
    cmake_parse_arguments(ARG "" "DESCRIPTION" "SOURCES;LINK" ${ARGN})
    add_library(${name} SHARED ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE quen_jni_headers ${ARG_LINK})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    if(WIN32)
        set_target_properties(${name} PROPERTIES PREFIX "")
        if(MINGW)
            target_link_options(${name} PRIVATE -static -Wl,--kill-at)
        endif()
        if(COMMAND quen_add_version_resource)
            quen_add_version_resource(${name} "${ARG_DESCRIPTION}")
        endif()
    else()
        # Every undefined symbol must be resolved at link time, not when the JVM loads us, and
        # nothing but the native methods leaves the library (not even template instances).
        target_link_options(${name} PRIVATE -Wl,--no-undefined
                            -Wl,--version-script=${QUEN_CMAKE_DIR}/jni-exports.map)
        set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${QUEN_CMAKE_DIR}/jni-exports.map)
    endif()
endfunction()

# quen_add_hid_bridge(name CORE core SOURCES ... DESCRIPTION text)
# A HID bridge: the shipped library `name` on the shipped platform layer; `core`_core_sim, the
# same code on the simulated bus as a static library for the unit tests, and
# `core`_core_<platform> on the shipped platform for tests against real devices; and on native
# non-Windows builds `name`_sim, the bridge on the simulated bus as a JVM loads it, in
# QUEN_SIM_LIBRARY_DIR (JVM tests and demo only).
function(quen_add_hid_bridge name)
    cmake_parse_arguments(ARG "" "CORE;DESCRIPTION" "SOURCES" ${ARGN})
    add_library(${ARG_CORE}_core_sim STATIC ${ARG_SOURCES})
    target_link_libraries(${ARG_CORE}_core_sim PUBLIC quen_sim)
    quen_add_jni_library(${name} SOURCES ${ARG_SOURCES} LINK ${QUEN_HID_SHIPPED}
                         DESCRIPTION "${ARG_DESCRIPTION}")
    if(NOT QUENLINK_HID_PLATFORM STREQUAL "sim")
        add_library(${ARG_CORE}_core_${QUENLINK_HID_PLATFORM} STATIC EXCLUDE_FROM_ALL
                    ${ARG_SOURCES})
        target_link_libraries(${ARG_CORE}_core_${QUENLINK_HID_PLATFORM} PUBLIC ${QUEN_HID_SHIPPED})
    endif()
    if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
        quen_add_jni_library(${name}_sim SOURCES ${ARG_SOURCES} LINK quen_sim
                             DESCRIPTION "${ARG_DESCRIPTION} (simulated bus)")
        set_target_properties(${name}_sim PROPERTIES OUTPUT_NAME ${name}
                              LIBRARY_OUTPUT_DIRECTORY ${QUEN_SIM_LIBRARY_DIR})
    endif()
endfunction()
