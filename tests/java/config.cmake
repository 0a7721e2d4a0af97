# The configuration bridge in a real JVM, with the configuration library's stand-in found on the
# library search path; the stand-in records into the folder QUEN_DOUBLE_DIR names.
quen_add_junit_test(config_jvm CLASSES com.quendal.javapos.readersetupkit.ReaderSetupKitTest
    ENVIRONMENT ${QUEN_CONFIG_DOUBLE_SEARCH}
                QUEN_DOUBLE_DIR=${CMAKE_CURRENT_BINARY_DIR}/config-double)
set_property(TEST config_jvm APPEND PROPERTY LABELS config)
