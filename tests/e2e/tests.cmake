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

# The same call with PipeWire and its PulseAudio server on every host, as
# today's desktops run them.
add_test(NAME e2e_two_host_call_pipewire
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run_two_host_call.sh
          $<TARGET_FILE:kavelo> ${CMAKE_BINARY_DIR}/Phone.wav ${CMAKE_BINARY_DIR}/e2e-output/pipewire)
set_tests_properties(e2e_two_host_call_pipewire PROPERTIES
  ENVIRONMENT KAVELO_E2E_SOUND=pipewire
  LABELS e2e
  TIMEOUT 300
  RUN_SERIAL TRUE)

# A call with one side on Wayland (a headless weston, Qt's Wayland platform):
# start, ring, text and speak, that side worked through its accessibility bus.
add_test(NAME e2e_wayland_call
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/wayland_call.sh
          $<TARGET_FILE:kavelo> ${CMAKE_BINARY_DIR}/Phone.wav ${CMAKE_BINARY_DIR}/e2e-output/wayland)
set_tests_properties(e2e_wayland_call PROPERTIES
  LABELS e2e
  TIMEOUT 300
  RUN_SERIAL TRUE)

# A talking peer that sends a sound file as voice datagrams, with a given capture
# buffer, jitter and loss; and what a Kavelo listening to it plays.
add_executable(kavelo_voice_peer ${CMAKE_CURRENT_SOURCE_DIR}/e2e/voice_peer.cpp)
target_link_libraries(kavelo_voice_peer PRIVATE kavelo_core)
add_test(NAME e2e_voice_continuity
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run_voice_continuity.sh
          $<TARGET_FILE:kavelo> $<TARGET_FILE:kavelo_voice_peer> ${CMAKE_BINARY_DIR}/Phone.wav
          ${CMAKE_BINARY_DIR}/e2e-output/voice)
set_tests_properties(e2e_voice_continuity PROPERTIES
  LABELS e2e
  TIMEOUT 300
  RUN_SERIAL TRUE)

# A call and a desktop stay the user's: lines and rings from a stranger come up
# without taking the keyboard from another application, and answering a ring
# with "Speak" keeps the call's peer past the alert's 100 seconds.
add_test(NAME e2e_call_safety
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/call_safety.sh
          $<TARGET_FILE:kavelo> ${CMAKE_BINARY_DIR}/Phone.wav ${CMAKE_BINARY_DIR}/e2e-output/safety)
set_tests_properties(e2e_call_safety PROPERTIES
  LABELS e2e
  TIMEOUT 400
  RUN_SERIAL TRUE)

# Kavelo as its Debian package: this build's kavelo packaged (scripts/package.sh,
# lintian included), installed with apt-get, started as its menu entry and then its
# autostart entry start it, rung by a peer, closed, and the package removed; the
# user's files stay in their per-user folder throughout.
add_test(NAME e2e_package_install
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/package_install.sh ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/e2e-output/package)
set_tests_properties(e2e_package_install PROPERTIES
  LABELS e2e
  TIMEOUT 300
  RUN_SERIAL TRUE)

# Echo through a room: B's speaker is looped into B's microphone, 30 ms late and
# 6 dB down. What A hears of itself with B's canceller on, B's voice while both
# talk, the measure's floor with the room muted, and the room with B's canceller
# switched off. Figures and recordings in e2e-output/echo-room*.
add_test(NAME e2e_echo_room
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/echo_room.sh
          $<TARGET_FILE:kavelo> ${CMAKE_BINARY_DIR}/Phone.wav ${CMAKE_BINARY_DIR}/e2e-output/echo-room)
set_tests_properties(e2e_echo_room PROPERTIES
  LABELS e2e
  TIMEOUT 240
  RUN_SERIAL TRUE)

add_test(NAME e2e_echo_room_pipewire
  COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/echo_room.sh
          $<TARGET_FILE:kavelo> ${CMAKE_BINARY_DIR}/Phone.wav ${CMAKE_BINARY_DIR}/e2e-output/echo-room-pipewire)
set_tests_properties(e2e_echo_room_pipewire PROPERTIES
  ENVIRONMENT KAVELO_E2E_SOUND=pipewire
  LABELS e2e
  TIMEOUT 240
  RUN_SERIAL TRUE)
