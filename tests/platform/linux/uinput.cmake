# uinput pointer output: its ioctls and the events it writes, against a pipe
# and a fake of the kernel's side (no /dev/uinput needed).
oru_add_gtest(oru-test-uinput
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/UinputPointerOutputTest.cpp ${CMAKE_CURRENT_LIST_DIR}/../../fakes/CountingAllocator.cpp
  LIBS oru_linux
  LABELS pointer)
# Which pointer backend a session gets, and where its ranges lie.
oru_add_gtest(oru-test-pointer-choice
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PointerBackendChoiceTest.cpp ${CMAKE_CURRENT_LIST_DIR}/DesktopLayoutTest.cpp
  LIBS oru_linux
  LABELS pointer)
