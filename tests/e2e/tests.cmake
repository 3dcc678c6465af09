# The two-host call: three Kavelo programs in network namespaces, each with its own
# sound server and display, driven through their windows. Needs root for the
# namespaces. Runs alone: it plays and records speech in real time.
add_test(NAME e2e_two_host_call
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run_two_host_call.sh
          $<TARGET_FILE:kavelo> ${CMAKE_BINARY_DIR}/Phone.wav ${CMAKE_BINARY_DIR}/e2e-output)
set_tests_properties(e2e_two_host_call PROPERTIES
  LABELS e2e
  TIMEOUT 300
  RUN_SERIAL TRUE)
