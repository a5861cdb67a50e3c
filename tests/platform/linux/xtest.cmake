# XTest pointer output against a real X server (a private Xvfb, 1280x800).
oru_add_gtest(oru-test-xtest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/XTestPointerOutputTest.cpp
  LIBS oru_linux PkgConfig::xtst
  XVFB LABELS x11)
