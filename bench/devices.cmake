# Generator harness: the synthesis's and a live stream's share of a core.
add_executable(bench_generator ${CMAKE_CURRENT_LIST_DIR}/BenchGenerator.cpp)
target_link_libraries(bench_generator PRIVATE vemra_devices)
vemra_target_warnings(bench_generator)
