# The ARM till on an ARM kernel: the project's arm64 and architecture-independent packages from
# release/ (scripts/release.sh), unpacked with Debian's arm64 Java runtime into an arm64 root, run
# the kernel tests' bridge cases (BridgesOnKernel) on Debian's arm64 kernel under
# qemu-system-aarch64, against uhid devices that this build's device_controller plugs. Labelled
# release: it needs the packages first (test preset release-arm64).
find_package(Java 11 REQUIRED COMPONENTS Development)
include(UseJava)

# The driver alone: the classes it calls are the installed jar's, compiled here only for their
# types (-implicit:none leaves them out of this jar).
set(CMAKE_JAVA_COMPILE_FLAGS -sourcepath ${PROJECT_SOURCE_DIR}/java/src -implicit:none
    -Xlint:all -Werror)
set(driver_sources ${PROJECT_SOURCE_DIR}/tests/java/com/quendal/javapos/usb)
add_jar(quenlink_arm64_till
    SOURCES ${driver_sources}/BridgesOnKernel.java ${driver_sources}/DeviceControllerLink.java
            ${driver_sources}/GuestChecks.java
    OUTPUT_NAME quenlink-arm64-till)
get_target_property(driver_jar quenlink_arm64_till JAR_FILE)

add_test(NAME arm64_till_bridges_test
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/run-arm64-till-in-vm.sh
            $<TARGET_FILE:device_controller> ${PROJECT_SOURCE_DIR}/release ${driver_jar}
            com.quendal.javapos.usb.BridgesOnKernel)
# Measured 16-47 s in all on a 2-core machine at load 4-8 (one JVM start under TCG, the cases'
# real-clock waits): limits of six times that and more.
set_tests_properties(arm64_till_bridges_test PROPERTIES
    LABELS "kernel;release" TIMEOUT 360 FIXTURES_REQUIRED quen_kernel
    ENVIRONMENT "QUEN_KERNEL_CACHE=${QUENLINK_KERNEL_CACHE};QUEN_VM_TIME_LIMIT=300")
