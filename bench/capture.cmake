# Cycle harness: the engine on the built-in device drawing into the real view,
# offscreen. Prints passes per cycle and CPU time per pass.
add_executable(bench_capture ${CMAKE_CURRENT_LIST_DIR}/BenchCapture.cpp)
target_link_libraries(bench_capture PRIVATE vemra_capture vemra_view Qt6::Widgets)
vemra_target_warnings(bench_capture)

# Probe harness: the time a listing takes with and without probing the sound
# system's own devices anew.
add_executable(bench_probe ${CMAKE_CURRENT_LIST_DIR}/BenchProbe.cpp)
target_link_libraries(bench_probe PRIVATE vemra_devices)
vemra_target_warnings(bench_probe)
