# uinput pointer output: its ioctls and the events it writes, against a pipe
# and a fake of the kernel's side (no /dev/uinput needed).
oru_add_gtest(oru-test-uinput
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/UinputPointerOutputTest.cpp
  LIBS oru_linux oru_testing_allocator
  LABELS pointer)
# Which pointer backend a session gets, and where its ranges lie.
oru_add_gtest(oru-test-pointer-choice
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PointerBackendChoiceTest.cpp ${CMAKE_CURRENT_LIST_DIR}/DesktopLayoutTest.cpp
  LIBS oru_linux
  LABELS pointer)

# The uinput pointer against a real kernel, run as root in the test guest:
#   tests/kernel/vm-run.sh -- tests/kernel/guest-uinput.sh SOURCE BUILD RESULTS
add_executable(oru-uinput-scenario ${PROJECT_SOURCE_DIR}/tests/kernel/oru_uinput_scenario_main.cpp)
target_link_libraries(oru-uinput-scenario PRIVATE oru_uhid_tracker oru_testing_process oru_linux)
target_compile_options(oru-uinput-scenario PRIVATE -Wall -Wextra)
set_target_properties(oru-uinput-scenario PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_test(NAME kernel_uinput_test
         COMMAND ${PROJECT_SOURCE_DIR}/tests/kernel/vm-run.sh --build ${CMAKE_BINARY_DIR} --timeout 600 --
                 ${PROJECT_SOURCE_DIR}/tests/kernel/guest-uinput.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                 ${CMAKE_BINARY_DIR}/tests/artifacts/kernel-uinput)
set_tests_properties(kernel_uinput_test PROPERTIES LABELS "kernel;pointer" RUN_SERIAL TRUE TIMEOUT 700)
