# The release folder of one platform, as `cmake --install <build> --prefix <folder>` puts it
# together, and its archive (cpack). Included by CMakeLists.txt beside it.
set(QUEN_RELEASE_PLATFORM ${QUENLINK_RELEASE_PLATFORM})
set(QUEN_RELEASE_FILES "")
# One line of the README's file list: the name in a column of 23, then what it is for.
function(quen_release_line name text)
    string(LENGTH "${name}" width)
    math(EXPR pad "23 - ${width}")
    string(REPEAT " " ${pad} spaces)
    set(QUEN_RELEASE_FILES "${QUEN_RELEASE_FILES}  ${name}${spaces}${text}\n" PARENT_SCOPE)
endfunction()

foreach(library IN LISTS libraries)
    # Installed as targets, so that `cmake --install --strip` strips them; no import library.
    install(TARGETS ${library} LIBRARY DESTINATION . RUNTIME DESTINATION .)
    if(WIN32)
        set(file ${library}.dll)
    else()
        set(file lib${library}.so)
    endif()
    quen_release_line(${file} "${purpose_${library}}")
endforeach()
install(TARGETS hid_probe RUNTIME DESTINATION .)
quen_release_line(hid_probe${CMAKE_EXECUTABLE_SUFFIX} "${probe_purpose}")

if(TARGET quenlink_jar)
    set(jar ${QUEN_JAR})
elseif(QUENLINK_PREBUILT_JAR)
    set(jar ${QUENLINK_PREBUILT_JAR})
else()
    install(CODE "message(FATAL_ERROR \"no quenlink.jar: set QUENLINK_PREBUILT_JAR\")")
endif()
if(jar)
    install(FILES ${jar} DESTINATION .)
endif()
if(WIN32)
    set(separator ";")
else()
    set(separator ":")
endif()
set(QUEN_LOADING "Put quenlink.jar on the class path and this folder on the library path:

  java -Djava.library.path=<this folder> -cp quenlink.jar${separator}<your application> ...

The class path's separator is ; on Windows and : on Linux.
")
set(QUEN_LOADING_MATCH "
A library must match the JVM that loads it: a 32-bit JVM needs the windows-x86 folder, a 64-bit
JVM on Windows the windows-x64 folder. A mismatch shows as UnsatisfiedLinkError (\"Can't load
IA 32-bit .dll on a AMD 64-bit platform\") when the class is first used. `java -version` says
which JVM runs (\"64-Bit Server VM\" or not).
")
set(QUEN_PROBE hid_probe)
set(QUEN_PROBE_WHERE "Run the probe in this folder.")

if(WIN32)
    if(QUENLINK_RELEASE_PLATFORM STREQUAL "windows-x64")
        set(QUEN_PLATFORM_NOTES "
For 64-bit JVMs on Windows. setuplink is not here: the maker's configuration library is a 32-bit
DLL, which only a 32-bit JVM can load; configure scanners with the windows-x86 folder's files.
")
    else()
        set(QUEN_PLATFORM_NOTES "
For 32-bit JVMs on Windows, the only ones that can load the maker's 32-bit configuration library
ReaderSetupKit.dll (through setuplink.dll). The HID libraries need nothing but Windows itself.
")
    endif()
    set(QUEN_LINUX_SECTION "")
else()
    install(FILES 70-quenlink.rules DESTINATION .)
    quen_release_line(70-quenlink.rules "udev rule: lets the logged-in user open the devices")
    set(QUEN_PLATFORM_NOTES "
For 64-bit JVMs on Linux (${CMAKE_SYSTEM_PROCESSOR}). The libraries reach the devices through the
kernel's hidraw nodes and need nothing but the C and C++ runtime libraries. setuplink loads
libReaderSetupKit.so, the maker's configuration library for Linux, where one is installed.
")
    file(READ linux-permissions.txt QUEN_LINUX_SECTION)
    set(QUEN_SERVICE_JAVA "/usr/bin/java -Djava.library.path=/opt/quenlink -cp /opt/quenlink/quenlink.jar:/opt/till/till.jar com.example.till.Main")
    set(QUEN_PROBE_PATH /opt/quenlink/hid_probe)
    file(READ linux-service.txt service)
    string(CONFIGURE "${service}" service @ONLY)
    string(APPEND QUEN_LINUX_SECTION "${service}")
endif()
set(QUEN_CONTENTS "What is in this folder
----------------------
${QUEN_RELEASE_FILES}  quenlink.jar           ${jar_purpose}
  SHA256SUMS             checksums of the files above (sha256sum -c SHA256SUMS)
")
configure_file(README.integrator.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)

# Checksums of everything above, written when the folder is complete.
install(CODE [[
    set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(GLOB files RELATIVE "${folder}" "${folder}/*")
    list(REMOVE_ITEM files SHA256SUMS)
    list(SORT files)
    set(sums "")
    foreach(file IN LISTS files)
        file(SHA256 "${folder}/${file}" sum)
        string(APPEND sums "${sum}  ${file}\n")
    endforeach()
    file(WRITE "${folder}/SHA256SUMS" "${sums}")
]])

set(CPACK_PACKAGE_NAME quenlink)
set(CPACK_PACKAGE_VENDOR quenlink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quenlink-${PROJECT_VERSION}-${QUENLINK_RELEASE_PLATFORM})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
set(CPACK_SOURCE_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackSourceConfig.cmake)
include(CPack)
