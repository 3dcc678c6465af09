# Two ways to install, both from the same build.
#
# Per user, the default of `cmake --install build/default --prefix ~/.local`: the
# program and its ring sound go into one program folder (<prefix>/share/kavelo),
# where contacts.vip and app.txt are kept too, and a launcher with an icon into the
# applications menu that starts Kavelo in that folder.
#
# As a system program, the component "system" that scripts/package.sh packages:
# <prefix>/bin/kavelo, its ring sound in <prefix>/share/kavelo, the menu entry, icon,
# AppStream metadata, manual page, copyright and changelog. The program finds that
# layout around its own folder and keeps each user's files in $XDG_DATA_HOME/kavelo.
include(GNUInstallDirs)

set(KAVELO_PROGRAM_SUBDIR share/kavelo)
install(TARGETS kavelo RUNTIME DESTINATION ${KAVELO_PROGRAM_SUBDIR})
install(FILES ${CMAKE_BINARY_DIR}/Phone.wav DESTINATION ${KAVELO_PROGRAM_SUBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/kavelo.png DESTINATION share/icons/hicolor/64x64/apps)
install(CODE "set(KAVELO_DESKTOP_TEMPLATE \"${CMAKE_SOURCE_DIR}/resources/desktop/kavelo.desktop.in\")")
install(CODE [[
  set(folder "${CMAKE_INSTALL_PREFIX}/share/kavelo")
  set(KAVELO_DESKTOP_EXEC "\"${folder}/kavelo\"")
  set(KAVELO_DESKTOP_PATH_LINE "Path=${folder}")
  set(entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications/kavelo.desktop")
  configure_file("${KAVELO_DESKTOP_TEMPLATE}" "${entry}" @ONLY)
  message(STATUS "Installing: ${entry}")
]])

set(system COMPONENT system EXCLUDE_FROM_ALL)
set(package_files ${CMAKE_SOURCE_DIR}/resources/package)
set(package_build ${CMAKE_BINARY_DIR}/package)
install(TARGETS kavelo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${system})
install(FILES ${CMAKE_BINARY_DIR}/Phone.wav DESTINATION ${CMAKE_INSTALL_DATADIR}/kavelo ${system})
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/kavelo.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps ${system})
# Started from the menu, the installed program needs no working folder.
set(KAVELO_DESKTOP_EXEC kavelo)
set(KAVELO_DESKTOP_PATH_LINE "")
configure_file(${CMAKE_SOURCE_DIR}/resources/desktop/kavelo.desktop.in ${package_build}/kavelo.desktop @ONLY)
install(FILES ${package_build}/kavelo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications ${system})
install(FILES ${package_files}/org.kavelo.Kavelo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo ${system})
install(FILES ${package_build}/kavelo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 ${system})
install(FILES ${package_files}/copyright ${package_build}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} ${system})

# Compressed as Debian's tools do: best compression, no name or time stamp inside.
set(compressed)
foreach(pair kavelo.1:kavelo.1.gz changelog:changelog.Debian.gz)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(
    OUTPUT ${package_build}/${target}
    COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${package_files}/${source} ${package_build}/${target}
    DEPENDS ${package_files}/${source}
    VERBATIM)
  list(APPEND compressed ${package_build}/${target})
endforeach()
add_custom_target(package_documents ALL DEPENDS ${compressed})
