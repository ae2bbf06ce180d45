# vemra_gdi: the device-context drawing layer (DC, pens, brushes, window DC)
# over QImage and QPainter.
add_library(vemra_gdi STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DC.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DC.h
  ${CMAKE_CURRENT_LIST_DIR}/Brush.h
  ${CMAKE_CURRENT_LIST_DIR}/GdiTypes.h
  ${CMAKE_CURRENT_LIST_DIR}/Pen.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowDC.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowSurface.h
)
target_include_directories(vemra_gdi PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vemra_gdi PUBLIC Qt6::Gui)
vemra_target_warnings(vemra_gdi)
# The scan-line loops are most of a frame's time; let them be vectorised.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/DC.cpp PROPERTIES COMPILE_OPTIONS -O3)
