# The shipped hidraw libraries in the host's JVM inside the kernel VM, run by a till's service user
# (not root, in the group plugdev) under udevd: with the shipped rule's group form that user opens
# the maker's scanner and scale and nothing else; with no rule of ours the bridges stay silent and
# the probe says why. One VM boot, two JVMs.
if(TARGET device_controller AND NOT QUENLINK_HID_PLATFORM STREQUAL "sim")
    add_test(NAME till_user_access_test
        COMMAND bash ${PROJECT_SOURCE_DIR}/tests/kernel/run-jvm-user-in-vm.sh
                $<TARGET_FILE:device_controller> ${PROJECT_SOURCE_DIR}/packaging/70-quenlink.rules
                $<TARGET_FILE:hid_probe> ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}
                ${QUEN_JAR}:${QUEN_JVM_TEST_JAR} com.quendal.javapos.usb.TillUserAccess)
    set_tests_properties(till_user_access_test PROPERTIES
        LABELS kernel TIMEOUT 400 FIXTURES_REQUIRED quen_kernel
        ENVIRONMENT "QUEN_KERNEL_CACHE=${QUENLINK_KERNEL_CACHE};QUEN_VM_TIME_LIMIT=360")
endif()
