# The native methods each library exports, and nothing else: one list, read by the export tests
# of the builds and by the release check.
set(QUEN_EXPORTS_scannerlink)
foreach(method Open IsDeviceExist OpenScale Close write read SetMode DeviceState)
    list(APPEND QUEN_EXPORTS_scannerlink Java_com_quendal_javapos_usb_QuenHIDOper_${method})
endforeach()
set(QUEN_EXPORTS_scalelink)
foreach(method Open IsDeviceExist Close write read DeviceState)
    list(APPEND QUEN_EXPORTS_scalelink Java_com_quendal_javapos_usb_QuenHIDScaleOper_${method})
endforeach()
set(QUEN_EXPORTS_setuplink)
foreach(method DownloadConfigFile FlashScannerFile UploadConfigFile)
    list(APPEND QUEN_EXPORTS_setuplink
         Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_${method})
endforeach()
# The classes in quenlink.jar that a till's JVM loads.
set(QUEN_JAVA_CLASSES com.quendal.javapos.usb.QuenHIDOper com.quendal.javapos.usb.QuenHIDScaleOper
    com.quendal.javapos.readersetupkit.ReaderSetupKit)
