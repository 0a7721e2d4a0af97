# A till's shift, soaked, at CI size (1,000 scans, 10 reseats, 2 flashes): the shipped hidraw
# libraries in the host's JVM inside the kernel VM, run by the till's service user under udevd,
# against the USB scanner and scale that device_controller plays from a seed
# (tests/kernel/shift_run.h). Fails on a scan lost outside an unplug or a Close, a duplicate, a
# spliced, truncated or corrupted scan, a weight block or command not whole, and a descriptor the
# JVM holds at the end that it did not hold at the start. bench/soak.sh runs a whole shift.
if(TARGET device_controller AND NOT QUENLINK_HID_PLATFORM STREQUAL "sim")
    add_test(NAME till_shift_soak
        COMMAND bash ${PROJECT_SOURCE_DIR}/tests/kernel/run-jvm-user-in-vm.sh
                $<TARGET_FILE:device_controller> ${PROJECT_SOURCE_DIR}/packaging/70-quenlink.rules
                $<TARGET_FILE:hid_probe> ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}
                ${QUEN_JAR}:${QUEN_JVM_TEST_JAR} com.quendal.javapos.usb.TillShift)
    # A fixed heap, touched at the start, and a fixed number of compiler threads: the resident
    # set and the thread count then move only with what the shift does.
    set_tests_properties(till_shift_soak PROPERTIES
        LABELS kernel TIMEOUT 660 FIXTURES_REQUIRED quen_kernel
        ENVIRONMENT "QUEN_KERNEL_CACHE=${QUENLINK_KERNEL_CACHE};QUEN_VM_TIME_LIMIT=600;QUEN_VM_USB=1;QUEN_JVM_PHASES=group;QUEN_JVM_OPTIONS=-Xms96m -XX:+AlwaysPreTouch -XX:-UseDynamicNumberOfCompilerThreads -Dquen.shift=23,1000,10,2")
endif()
