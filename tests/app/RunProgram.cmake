# Runs the program the way the run script does without a display: it clicks
# Start, runs for a moment, saves its picture and closes its window. The
# program must end by itself, with status 0, and leave the picture. SCALE, if
# given, is the screen's device pixel ratio.
if(NOT DEFINED SCALE)
  set(SCALE 1)
endif()
file(REMOVE ${SCREENSHOT})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=${SCALE}
          LSAN_OPTIONS=fast_unwind_on_malloc=0:suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp
          VEMRA_SELFTEST_SCREENSHOT=${SCREENSHOT} VEMRA_SELFTEST_SECONDS=2 ${PROGRAM}
  RESULT_VARIABLE status
  TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "vemra2 ended with ${status}")
endif()
file(SIZE ${SCREENSHOT} size)
if(size LESS 1000)
  message(FATAL_ERROR "vemra2 saved no picture (${size} bytes)")
endif()
