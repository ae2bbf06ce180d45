# Analysis benchmarks, with FFTW's complex transform of the same sizes as the
# yardstick when it is installed.
pkg_check_modules(FFTW3 IMPORTED_TARGET fftw3)
add_executable(bench_analysis BenchAnalysis.cpp)
target_link_libraries(bench_analysis PRIVATE vemra_analysis benchmark::benchmark)
if(FFTW3_FOUND)
  target_link_libraries(bench_analysis PRIVATE PkgConfig::FFTW3)
  target_compile_definitions(bench_analysis PRIVATE VEMRA_HAVE_FFTW=1)
endif()
vemra_target_warnings(bench_analysis)
