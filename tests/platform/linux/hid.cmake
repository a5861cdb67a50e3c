# Tests of the hidraw backend against umockdev's emulated devices.

pkg_check_modules(umockdev IMPORTED_TARGET umockdev-1.0)
if(NOT umockdev_FOUND)
  message(FATAL_ERROR "umockdev not found: install the Debian packages umockdev and libumockdev-dev")
endif()

# umockdev redirects /sys, /dev and udev's netlink socket through a preloaded
# library; on Debian 12 it is libumockdev-preload.so.0 (what umockdev-wrapper
# sets). The test program itself tells AddressSanitizer to accept running
# behind it (verify_asan_link_order=0).
oru_add_gtest(oru-test-hid-umockdev
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LinuxHidSystemUmockdevTest.cpp
  LIBS oru_linux oru_core PkgConfig::umockdev
  ENV LD_PRELOAD=libumockdev-preload.so.0
  LABELS umockdev)
# One test runs oru-record inside the test bed.
target_compile_definitions(oru-test-hid-umockdev PRIVATE ORU_RECORD_PATH="$<TARGET_FILE:oru-record>")
add_dependencies(oru-test-hid-umockdev oru-record)
