# What the program does with its process before and around the event loop:
# start checks, the single-instance lock, quit signals (temporary folders only).
oru_add_gtest(platform_linux_start_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/QuitSignalPipeTest.cpp ${CMAKE_CURRENT_LIST_DIR}/SingleInstanceLockTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/StartChecksTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ThreadSchedulingTest.cpp
  LIBS oru_linux
  LABELS app)
