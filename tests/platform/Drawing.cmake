add_executable(test_gdi
  ${CMAKE_CURRENT_LIST_DIR}/DCTest.cpp
)
target_link_libraries(test_gdi PRIVATE vemra_gdi GTest::gtest)
vemra_target_warnings(test_gdi)
gtest_discover_tests(test_gdi DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
