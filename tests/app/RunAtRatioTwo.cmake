# Runs the program as RunProgram.cmake does, once on a screen of ratio 1 and
# once under QT_SCALE_FACTOR=2, and compares the two pictures.
foreach(SCALE 1 2)
  set(SCREENSHOT ${DIR}/program_ratio_${SCALE}.png)
  include(${CMAKE_CURRENT_LIST_DIR}/RunProgram.cmake)
endforeach()
execute_process(COMMAND ${CHECK} ${DIR}/program_ratio_1.png ${DIR}/program_ratio_2.png
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the pictures at ratios 1 and 2 do not compare as they should")
endif()
