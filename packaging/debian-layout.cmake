# The files of the Debian packages, where they install them (debian/rules configures the build with
# QUENLINK_DEBIAN_LAYOUT and debian/*.install shares the files out among the packages): the JNI
# libraries in /usr/lib/<multiarch>/jni, where Debian's Java runtimes look by default; the probe as
# quenlink-hid-probe, linked against the system's C and C++ libraries (see tools/); the udev rule;
# and, where the jar is built, the jar versioned with an unversioned link, as Debian's Java policy
# names jars, and the integrator's README written for the packages. Included by CMakeLists.txt.
include(GNUInstallDirs)
install(TARGETS ${libraries} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/jni)
install(TARGETS quenlink-hid-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES 70-quenlink.rules DESTINATION lib/udev/rules.d)
if(NOT TARGET quenlink_jar)
    return()
endif()

set(versioned_jar quenlink-${PROJECT_VERSION}.jar)
install(FILES ${QUEN_JAR} DESTINATION share/java RENAME ${versioned_jar})
file(CREATE_LINK ${versioned_jar} ${CMAKE_CURRENT_BINARY_DIR}/quenlink.jar SYMBOLIC)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quenlink.jar DESTINATION share/java)

# The README is arch-independent (it ships in libquenlink-java): it names the JNI folder by its
# multiarch pattern.
set(jni "/usr/lib/<multiarch>/jni")
set(QUEN_RELEASE_PLATFORM "Debian")
set(QUEN_CONTENTS "What the packages install
--------------------------
  libquenlink-java     the package a till's application needs; it brings the others
    /usr/share/java/quenlink.jar
                       ${jar_purpose}
    /usr/share/doc/libquenlink-java/README.gz
                       this README
  libquenlink-jni      the JNI libraries, for each architecture (Multi-Arch: same)
    ${jni}/libscannerlink.so
                       ${purpose_scannerlink}
    ${jni}/libscalelink.so
                       ${purpose_scalelink}
    ${jni}/libsetuplink.so
                       ${purpose_setuplink}
  quenlink-udev        the udev rule (see \"Permissions\")
    /usr/lib/udev/rules.d/70-quenlink.rules
  quenlink-hid-probe   recommended by libquenlink-java
    /usr/bin/quenlink-hid-probe
                       ${probe_purpose}

<multiarch> is x86_64-linux-gnu on amd64 and aarch64-linux-gnu on arm64.
")
set(QUEN_PLATFORM_NOTES "
For 64-bit JVMs on Debian 12 (amd64, arm64). The libraries reach the devices through the kernel's
hidraw nodes and need nothing but the C and C++ runtime libraries. setuplink loads
libReaderSetupKit.so, the maker's configuration library for Linux, where one is installed.
")
set(QUEN_LOADING "Put /usr/share/java/quenlink.jar on the class path; nothing else is needed:

  java -cp /usr/share/java/quenlink.jar:<your application> ...

Debian's Java runtimes search ${jni} for JNI libraries by default
(`java -XshowSettings:properties -version` lists it under java.library.path), so no
-Djava.library.path is needed. Only a Java runtime that is not Debian's needs
-Djava.library.path=${jni}.
")
set(QUEN_LOADING_MATCH "")
set(QUEN_PROBE quenlink-hid-probe)
set(QUEN_PROBE_WHERE "Run quenlink-hid-probe (man quenlink-hid-probe).")
file(READ debian-permissions.txt QUEN_LINUX_SECTION)
set(QUEN_SERVICE_JAVA "/usr/bin/java -cp /usr/share/java/quenlink.jar:/opt/till/till.jar com.example.till.Main")
set(QUEN_PROBE_PATH quenlink-hid-probe)
file(READ linux-service.txt service)
string(CONFIGURE "${service}" service @ONLY)
# The section on writes is the release folder's.
file(READ linux-permissions.txt folder_section)
string(REGEX MATCH "\nA write cannot.*" writes "${folder_section}")
string(APPEND QUEN_LINUX_SECTION "${writes}${service}")
configure_file(README.integrator.in ${CMAKE_CURRENT_BINARY_DIR}/README.deb @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.deb DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME README)
