# vemra_platform: steady millisecond clock, sleep and periodic timer events.
add_library(vemra_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Clock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TimerEvents.cpp
)
target_include_directories(vemra_platform PUBLIC ${PROJECT_SOURCE_DIR})
find_package(Threads REQUIRED)
target_link_libraries(vemra_platform PUBLIC Threads::Threads)
vemra_target_warnings(vemra_platform)
