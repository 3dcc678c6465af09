# The ring sound is synthesised at build time and placed next to the kavelo executable,
# whose program folder is where it is looked for.
add_executable(make_ring_sound ${CMAKE_SOURCE_DIR}/tools/make_ring_sound.cpp)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/Phone.wav
  COMMAND make_ring_sound ${CMAKE_BINARY_DIR}/Phone.wav
  DEPENDS make_ring_sound
  COMMENT "Synthesising the ring sound Phone.wav")
add_custom_target(ring_sound ALL DEPENDS ${CMAKE_BINARY_DIR}/Phone.wav)
add_dependencies(kavelo ring_sound)
