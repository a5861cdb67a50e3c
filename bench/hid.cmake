# Report delivery through the real hidraw read port, reader thread, hand-off
# and main loop: latency per report and a sustained 8,000 reports/s.
add_executable(oru-bench-hid HidBench.cpp)
target_link_libraries(oru-bench-hid PRIVATE oru_core oru_linux benchmark::benchmark Qt6::Core)
target_include_directories(oru-bench-hid PRIVATE ${PROJECT_SOURCE_DIR}/tests)
set_target_properties(oru-bench-hid PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
