# Installation (`cmake --install`) and the Debian package (`cpack` or the
# `package` target): the programs, their manual pages, and for the window a
# desktop entry, an icon and the MIME types of the files it opens.
include(GNUInstallDirs)

# Each program prints its own manual page from its help text (--man), so
# the pages cannot say anything else than the programs do.
set(KX_MAN_PROGRAMS kestrix-cli)
if(KESTRIX_GUI)
  list(APPEND KX_MAN_PROGRAMS kestrix)
endif()
set(KX_MAN_PAGES "")
foreach(program IN LISTS KX_MAN_PROGRAMS)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DPAGE=${page}
            -P ${CMAKE_CURRENT_LIST_DIR}/man-page.cmake
    DEPENDS ${program} ${CMAKE_CURRENT_LIST_DIR}/man-page.cmake
    COMMENT "Manual page ${program}(1)"
    VERBATIM)
  list(APPEND KX_MAN_PAGES ${page})
endforeach()
add_custom_target(man-pages ALL DEPENDS ${KX_MAN_PAGES})

install(TARGETS ${KX_MAN_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${KX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(KESTRIX_GUI)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/kestrix.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/kestrix.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/kestrix.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
endif()

# One .deb. Its dependencies are worked out from the programs' shared
# libraries by dpkg-shlibdeps (Qt 6 base, the C and C++ runtime); Qt loads
# its platform plugins at run time, so those are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kestrix")
set(CPACK_PACKAGE_CONTACT "Kestrix maintainers <kestrix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "inspect Delphi 3 package libraries on Linux")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kestrix opens Delphi 3 package libraries (.dpl, .bpl), DLLs and EXEs through\n"
    "its own small Windows layer, without running their code, and shows their\n"
    "package flags, units, required packages, exports, imports and resources. It\n"
    "regenerates package sources, reads compiled packages (.dcp), works out the\n"
    "modules an application needs at start-up and edits the IDE's package list.\n"
    "kestrix-cli prints the same for scripts.")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(KESTRIX_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
