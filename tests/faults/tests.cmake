# Whole-program fault and load tests: Kavelo programs in network namespaces,
# each with its own sound server and display, driven through their windows.
# They need root for the namespaces and run alone: they play and record sound
# in real time. The soak (tests/e2e/soak_call.sh) is run by hand, not here.
add_test(NAME e2e_flood_during_call
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/faults_flood.sh
          $<TARGET_FILE:kavelo> ${CMAKE_BINARY_DIR}/Phone.wav ${CMAKE_BINARY_DIR}/faults-output/flood)
set_tests_properties(e2e_flood_during_call PROPERTIES
  LABELS e2e
  TIMEOUT 300
  RUN_SERIAL TRUE)

add_test(NAME e2e_sound_server_faults
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/faults_audio_server.sh
          $<TARGET_FILE:kavelo> ${CMAKE_BINARY_DIR}/Phone.wav ${CMAKE_BINARY_DIR}/faults-output/sound-server)
set_tests_properties(e2e_sound_server_faults PROPERTIES
  LABELS e2e
  TIMEOUT 360
  RUN_SERIAL TRUE)

# Closing from a real tray (openbox and trayer) when app.txt cannot be written:
# the main window comes back with the error, and the user quits or saves.
add_test(NAME e2e_close_faults
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/faults_close.sh
          $<TARGET_FILE:kavelo> ${CMAKE_BINARY_DIR}/Phone.wav ${CMAKE_BINARY_DIR}/faults-output/close)
set_tests_properties(e2e_close_faults PROPERTIES
  LABELS e2e
  TIMEOUT 240
  RUN_SERIAL TRUE)
