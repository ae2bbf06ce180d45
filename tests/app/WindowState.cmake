# The program's window on a real X server: a normal top-level window to the
# desktop (window type normal, no modal state), and the program still ends
# when it closes. Runs the program's demonstration under xvfb-run and reads
# the window's properties with xprop while it runs.
file(REMOVE ${SCREENSHOT})
set(script [=[
"$0" &
pid=$!
for i in $(seq 200); do
  xwininfo -name "Vemra-2 by Tave" 2>/dev/null | grep -q IsViewable && break
  sleep 0.05
done
xprop -name "Vemra-2 by Tave" _NET_WM_WINDOW_TYPE _NET_WM_STATE WM_TRANSIENT_FOR
wait $pid
]=])
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=xcb
          VEMRA_SELFTEST_SCREENSHOT=${SCREENSHOT} VEMRA_SELFTEST_SECONDS=2
          ${XVFB_RUN} -a -s "-screen 0 1024x768x24" sh -c "${script}" ${PROGRAM}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE props
  TIMEOUT 60)
message(STATUS "window properties:\n${props}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "vemra2 ended with ${status}")
endif()
if(NOT props MATCHES "_NET_WM_WINDOW_TYPE\\(ATOM\\) = _NET_WM_WINDOW_TYPE_NORMAL")
  message(FATAL_ERROR "the window is not a normal top-level window")
endif()
if(props MATCHES "_NET_WM_STATE_MODAL")
  message(FATAL_ERROR "the window carries the modal state")
endif()
if(props MATCHES "WM_TRANSIENT_FOR\\(WINDOW\\)")
  message(FATAL_ERROR "the window is transient for another")
endif()
