# The shipped Windows DLLs against Debian's kernel: a Windows test program runs under the host's
# Wine inside the kernel VM (run-wine-in-vm.sh), beside a static Linux program that makes the uhid
# and USB devices it asks for (device_controller.cpp). One VM boot per architecture.

# The controller runs in the guest, so it is built with the host's compiler: this build's makes
# Windows programs.
find_program(QUEN_HOST_CXX NAMES g++ c++ REQUIRED)
set(quen_controller ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/device_controller)
set(quen_controller_flags -std=c++17 -O2 -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion
    -Wno-unused-parameter)
if(QUENLINK_WERROR)
    list(APPEND quen_controller_flags -Werror)
endif()
add_custom_command(OUTPUT ${quen_controller}
    COMMAND ${QUEN_HOST_CXX} ${quen_controller_flags} -static -pthread
            -I${PROJECT_SOURCE_DIR}/tests -I${PROJECT_SOURCE_DIR} -o ${quen_controller}
            device_controller.cpp uhid_device.cpp usb_gadget.cpp shift_plan.cpp shift_account.cpp
            shift_run.cpp
    DEPENDS device_controller.cpp uhid_device.cpp uhid_device.h usb_gadget.cpp usb_gadget.h
            test_device.h unique_fd.h ${PROJECT_SOURCE_DIR}/hid/hidraw/unique_fd.h shift_plan.cpp
            shift_plan.h shift_account.cpp shift_account.h shift_run.cpp shift_run.h hex_bytes.h
            ${PROJECT_SOURCE_DIR}/tests/support/report_descriptors.h
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    COMMENT "Building the kernel VM's device controller with the host's compiler"
    VERBATIM)
add_custom_target(device_controller ALL DEPENDS ${quen_controller})

# With the application's side of a short soak shift (wine_shift_test.cpp, which has the main). It
# runs last, after the tests whose devices Wine must list quickly: Wine's plug and play has been
# seen to miss the next new device for over a minute after the shift's devices went. MinGW runs
# the constructors that register the tests last file first.
add_executable(wine_dll_bridges_test wine_shift_test.cpp wine_dll_bridges_test.cpp
    device_control.cpp)
target_include_directories(wine_dll_bridges_test PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(wine_dll_bridges_test PRIVATE quen_test_jni quen_hid_win32 ws2_32 ntdll psapi
    GTest::gtest)
add_dependencies(wine_dll_bridges_test scannerlink scalelink device_controller)

add_test(NAME wine_dll_bridges_test
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/run-wine-in-vm.sh ${quen_controller}
            $<TARGET_FILE:wine_dll_bridges_test>)
# A cold Wine in the guest takes 30-110 s to start, depending on the host's load; the tests
# about a minute more.
set_tests_properties(wine_dll_bridges_test PROPERTIES
    LABELS kernel TIMEOUT 900 FIXTURES_REQUIRED quen_kernel
    ENVIRONMENT "QUEN_KERNEL_CACHE=${QUENLINK_KERNEL_CACHE};QUEN_VM_TIME_LIMIT=780")
