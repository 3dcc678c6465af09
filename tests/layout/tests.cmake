# Includes between the folders of src/ point down only.
add_test(NAME layout_includes_point_down
  COMMAND ${CMAKE_SOURCE_DIR}/tests/layout/check_layers.sh ${CMAKE_SOURCE_DIR}/src)
set_tests_properties(layout_includes_point_down PROPERTIES LABELS layout)
