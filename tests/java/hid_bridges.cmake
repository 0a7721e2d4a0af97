# The HID bridges in a real JVM, each in its own JVM on its own simulated bus.
quen_add_junit_test(scannerlink_jvm CLASSES com.quendal.javapos.usb.QuenHIDOperTest
    ENVIRONMENT QUENLINK_SIM_SCENARIO=${CMAKE_CURRENT_BINARY_DIR}/scannerlink-scenario.txt)
quen_add_junit_test(scalelink_jvm CLASSES com.quendal.javapos.usb.QuenHIDScaleOperTest
    ENVIRONMENT QUENLINK_SIM_SCENARIO=${CMAKE_CURRENT_BINARY_DIR}/scalelink-scenario.txt)

# The shipped (hidraw) libraries load in a JVM and bind every native method; with no device of
# the maker on this machine each call fails quietly.
if(NOT QUENLINK_HID_PLATFORM STREQUAL "sim")
    quen_add_junit_test(shipped_hid_libraries_jvm SHIPPED
        METHODS "com.quendal.javapos.usb.QuenHIDOperTest#everyNativeMethodBindsAndFailsQuietlyWithoutADevice"
                "com.quendal.javapos.usb.QuenHIDScaleOperTest#everyNativeMethodBindsAndAScannerIsNotAScale"
        ENVIRONMENT QUENLINK_SIM_SCENARIO=${CMAKE_CURRENT_BINARY_DIR}/shipped-scenario.txt)
endif()
