# Hostile input to every native method of the three libraries in one JVM: the HID bridges on a
# simulated bus, the configuration bridge calling its library's stand-in.
quen_add_junit_test(hostile_input_jvm CLASSES com.quendal.javapos.HostileInputTest
    ENVIRONMENT QUENLINK_SIM_SCENARIO=${CMAKE_CURRENT_BINARY_DIR}/hostile-scenario.txt
                ${QUEN_CONFIG_DOUBLE_SEARCH}
                QUEN_DOUBLE_DIR=${CMAKE_CURRENT_BINARY_DIR}/hostile-double)
set_property(TEST hostile_input_jvm APPEND PROPERTY LABELS config)
