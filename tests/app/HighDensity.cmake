# The program on a screen of device pixel ratio 2: its picture is twice the
# size, and the spectrum view's texts are not doubled pixels.
add_executable(check_high_density_screenshot ${CMAKE_CURRENT_LIST_DIR}/HighDensityCheck.cpp)
target_link_libraries(check_high_density_screenshot PRIVATE Qt6::Gui)
vemra_target_warnings(check_high_density_screenshot)
add_test(NAME app.program_at_ratio_two
         COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:vemra2>
                 -DCHECK=$<TARGET_FILE:check_high_density_screenshot>
                 -DDIR=${CMAKE_CURRENT_BINARY_DIR}
                 -P ${CMAKE_CURRENT_LIST_DIR}/RunAtRatioTwo.cmake)
