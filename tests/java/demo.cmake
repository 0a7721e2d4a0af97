# The demo's flow in a real JVM, on its own simulated bus and with the configuration stand-in.
quen_add_junit_test(demo_jvm CLASSES com.quendal.demo.TillDemoTest
    ENVIRONMENT QUENLINK_SIM_SCENARIO=${CMAKE_CURRENT_BINARY_DIR}/demo-scenario.txt
                QUEN_DOUBLE_DIR=${CMAKE_CURRENT_BINARY_DIR}/demo-config
                ${QUEN_CONFIG_DOUBLE_SEARCH})
