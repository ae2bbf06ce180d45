# Frame rendering benchmark: RenderFrame with filled channels, including the
# copy to the window's front image. Runs on the offscreen Qt platform.
add_executable(bench_view BenchView.cpp)
target_link_libraries(bench_view PRIVATE vemra_view benchmark::benchmark)
vemra_target_warnings(bench_view)
