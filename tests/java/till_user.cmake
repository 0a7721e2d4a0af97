# The shipped hidraw libraries in the host's JVM inside the kernel VM, run by a till's service user
# under udevd (tests/kernel/run-jvm-user-in-vm.sh), against devices that device_controller, root
# beside the JVM, plugs and drives as the Java class asks.
if(TARGET device_controller AND NOT QUENLINK_HID_PLATFORM STREQUAL "sim")
    # quen_add_till_user_test(name CLASS class TIME_LIMIT seconds [ENVIRONMENT VAR=value ...])
    function(quen_add_till_user_test name)
        cmake_parse_arguments(ARG "" "CLASS;TIME_LIMIT" "ENVIRONMENT" ${ARGN})
        math(EXPR ctest_limit "${ARG_TIME_LIMIT} + 60")
        set(environment QUEN_KERNEL_CACHE=${QUENLINK_KERNEL_CACHE}
            QUEN_VM_TIME_LIMIT=${ARG_TIME_LIMIT} ${ARG_ENVIRONMENT})
        add_test(NAME ${name}
            COMMAND bash ${PROJECT_SOURCE_DIR}/tests/kernel/run-jvm-user-in-vm.sh
                    $<TARGET_FILE:device_controller> ${PROJECT_SOURCE_DIR}/packaging/70-quenlink.rules
                    $<TARGET_FILE:hid_probe> ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}
                    ${QUEN_JAR}:${QUEN_JVM_TEST_JAR} ${ARG_CLASS})
        set_tests_properties(${name} PROPERTIES
            LABELS kernel TIMEOUT ${ctest_limit} FIXTURES_REQUIRED quen_kernel
            ENVIRONMENT "${environment}")
    endfunction()

    # With the shipped rule's group form that user opens the maker's scanner and scale and nothing
    # else; with no rule of ours the bridges stay silent and the probe says why. One VM boot, three
    # JVMs.
    quen_add_till_user_test(till_user_access_test CLASS com.quendal.javapos.usb.TillUserAccess
        TIME_LIMIT 360)

    # A till's shift, soaked, at CI size (1,000 scans, 10 reseats, 2 flashes), against the USB
    # scanner and scale that device_controller plays from a seed (tests/kernel/shift_run.h). Fails on
    # a scan lost outside an unplug or a Close, a duplicate, a spliced, truncated or corrupted scan,
    # a weight block or command not whole, and a descriptor the JVM holds at the end that it did not
    # hold at the start. bench/soak.sh runs a whole shift. A fixed heap, touched at the start, and a
    # fixed number of compiler threads: the resident set and the thread count then move only with
    # what the shift does.
    quen_add_till_user_test(till_shift_soak CLASS com.quendal.javapos.usb.TillShift
        TIME_LIMIT 600
        ENVIRONMENT QUEN_VM_USB=1 QUEN_JVM_PHASES=group
            "QUEN_JVM_OPTIONS=-Xms96m -XX:+AlwaysPreTouch -XX:-UseDynamicNumberOfCompilerThreads -Dquen.shift=23,1000,10,2")
endif()
