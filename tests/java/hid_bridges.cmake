# The HID bridges in a real JVM, each in its own JVM on its own simulated bus.
quen_add_junit_test(scannerlink_jvm CLASSES com.quendal.javapos.usb.QuenHIDOperTest
    ENVIRONMENT QUENLINK_SIM_SCENARIO=${CMAKE_CURRENT_BINARY_DIR}/scannerlink-scenario.txt)
quen_add_junit_test(scalelink_jvm CLASSES com.quendal.javapos.usb.QuenHIDScaleOperTest
    ENVIRONMENT QUENLINK_SIM_SCENARIO=${CMAKE_CURRENT_BINARY_DIR}/scalelink-scenario.txt)
