# Runs the program as RunProgram.cmake does, once on a screen of ratio 1 and
# once under QT_SCALE_FACTOR=2, and compares the two pictures.
foreach(ratio 1 2)
  set(shot ${DIR}/program_ratio_${ratio}.png)
  file(REMOVE ${shot})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=${ratio}
            LSAN_OPTIONS=fast_unwind_on_malloc=0:suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp
            VEMRA_SELFTEST_SCREENSHOT=${shot} VEMRA_SELFTEST_SECONDS=2 ${PROGRAM}
    RESULT_VARIABLE status
    TIMEOUT 60)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "vemra2 at ratio ${ratio} ended with ${status}")
  endif()
endforeach()
execute_process(COMMAND ${CHECK} ${DIR}/program_ratio_1.png ${DIR}/program_ratio_2.png
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the pictures at ratios 1 and 2 do not compare as they should")
endif()
