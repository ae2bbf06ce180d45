# Device loss through the dialog, with the ordinary tests.
add_executable(test_app_device_loss ${CMAKE_CURRENT_LIST_DIR}/DeviceLossTest.cpp)
target_link_libraries(test_app_device_loss PRIVATE vemra_app_test_main)
vemra_target_warnings(test_app_device_loss)
vemra_discover_tests(test_app_device_loss ENVIRONMENT ${VEMRA_APP_TEST_ENV})

# Long runs of the dialog on the built-in signal: a seeded random walk over the
# controls, window sizes and every set-up. Meant for the address+undefined
# sanitizer build (./test runs them there with -L robustness); each test is a
# process of its own, so they share the machine's cores.
add_executable(test_app_robustness ${CMAKE_CURRENT_LIST_DIR}/RobustnessTest.cpp)
target_link_libraries(test_app_robustness PRIVATE vemra_app_test_main)
vemra_target_warnings(test_app_robustness)
# The walk allocates at every step, and unwinding each allocation's stack
# through the unwind tables made it four times as slow. These runs open only
# the built-in signal, and the frame pointers attribute what they allocate.
vemra_discover_tests(test_app_robustness
                     ENVIRONMENT ${VEMRA_APP_TEST_ENV} LSAN_OPTIONS=fast_unwind_on_malloc=1
                     PROPERTIES LABELS robustness TIMEOUT 600)
