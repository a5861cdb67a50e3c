# Report delivery, readable -> pointer placed: the program's main window with
# the hidraw read port, reader thread, hand-off, Qt event loop and XTest
# backend, against a minimal single-thread loop; latency and CPU per report.
if(TARGET oru_qtui)
  add_executable(oru-bench-hid HidBench.cpp)
  target_link_libraries(oru-bench-hid PRIVATE oru_qtui oru_linux oru_testing benchmark::benchmark PkgConfig::xtst)
  set_target_properties(oru-bench-hid PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
