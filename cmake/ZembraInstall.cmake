# cmake --install: the programs in bin/, what they read in share/zembra/
# (the program finds its language files there, relative to bin/), the
# desktop entry and icons for the window, the man page and bash completion.
# cpack -G DEB turns the same layout into a Debian package.
include(GNUInstallDirs)

install(TARGETS zembra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/langs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/zembra/langs)

# Man pages and the changelog are installed compressed, as man and Debian
# expect; gzip -n keeps the files the same from build to build.
find_program(ZEMBRA_GZIP gzip REQUIRED)
set(zembra_gzipped)
foreach(doc docs/zembra.1 docs/zembra-gui.1 packaging/changelog)
  get_filename_component(doc_name ${doc} NAME)
  set(gz ${PROJECT_BINARY_DIR}/docs/${doc_name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/docs
    COMMAND ${ZEMBRA_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/${doc} > ${gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/${doc} VERBATIM)
  list(APPEND zembra_gzipped ${gz})
endforeach()
add_custom_target(zembra_docs ALL DEPENDS ${zembra_gzipped})
install(FILES ${PROJECT_BINARY_DIR}/docs/zembra.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/docs/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zembra.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zembra)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TARGET zembra-gui)
  install(TARGETS zembra-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/share/help/ DESTINATION ${CMAKE_INSTALL_DATADIR}/zembra/help)
  install(FILES ${PROJECT_SOURCE_DIR}/share/applications/zembra.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/share/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
  install(FILES ${PROJECT_BINARY_DIR}/docs/zembra-gui.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The Debian package. Its Depends come from the programs' own library needs
# (dpkg-shlibdeps: libc, libstdc++ and, for zembra-gui, the Qt 6 runtime
# libraries); the window also needs Qt's platform plugins. Xvid and LAME are
# loaded only when an AVI rip asks for them, so they are recommended.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zembra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zembra")
set(CPACK_PACKAGE_CONTACT "Zembra developers <zembra@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert the titles of a DVD to AVI or MPEG files")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Zembra reads a DVD folder, disc image or drive and converts its titles to AVI\n"
    "(Xvid, MP3) or MPEG-1/MPEG-2 program streams with VCD, SVCD and DVD presets.\n"
    "It has a window (zembra-gui) and a command line (zembra).")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET zembra-gui)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libxvidcore4, libmp3lame0")
set(CPACK_STRIP_FILES ON)
include(CPack)
