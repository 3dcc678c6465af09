# A per-user install: `cmake --install build/default --prefix ~/.local` puts the program
# and its ring sound into one program folder (<prefix>/share/kavelo), where contacts.vip
# and app.txt are kept too, and a launcher with an icon into the applications menu that
# starts Kavelo in that folder.
set(KAVELO_PROGRAM_SUBDIR share/kavelo)
install(TARGETS kavelo RUNTIME DESTINATION ${KAVELO_PROGRAM_SUBDIR})
install(FILES ${CMAKE_BINARY_DIR}/Phone.wav DESTINATION ${KAVELO_PROGRAM_SUBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/kavelo.png DESTINATION share/icons/hicolor/64x64/apps)
install(CODE "
  set(KAVELO_PROGRAM_FOLDER \"\${CMAKE_INSTALL_PREFIX}/${KAVELO_PROGRAM_SUBDIR}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/resources/desktop/kavelo.desktop.in\"
                 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/kavelo.desktop\" @ONLY)
  message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/kavelo.desktop\")
")
