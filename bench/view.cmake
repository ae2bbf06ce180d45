# Frame rendering benchmark: RenderFrame with filled channels at device pixel
# ratios 1, 1.5 and 2, including the hand-over to the window. Runs on the
# offscreen Qt platform.
add_executable(bench_view BenchView.cpp)
target_link_libraries(bench_view PRIVATE vemra_view benchmark::benchmark)
vemra_target_warnings(bench_view)
