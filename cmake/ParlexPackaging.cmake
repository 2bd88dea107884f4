# Installing and packaging.
#
# Linux: the program in bin, its desktop entry, its AppStream metainfo, an
# example parlex.conf in its doc folder, and its icon in the hicolor
# theme at each size icon 128 holds; `cpack -G DEB` makes
# parlex_<version>_amd64.deb, its library dependencies found by
# dpkg-shlibdeps.
# win32: Parlex.exe and parlex-upload.exe; scripts/package signs them and
# makes the zip and the installer (res/installer/parlex.nsi) itself.
include(GNUInstallDirs)

# Installing (and cpack) builds only what it installs, not every test:
# scripts/package builds those targets first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME parlex)
set(CPACK_PACKAGE_VENDOR "Parlex")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop client for the agents of the Ostrel web chat service")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Parlex shows the Ostrel chat service's agent page in a window of its own, with a tray icon and "
       "balloons, a self-update at start, and a frozen-screen capture that marks up a region and sends it "
       "to the chat.")
set(CPACK_STRIP_FILES ON)

if(PARLEX_WIN32)
  install(TARGETS Parlex parlex_upload RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "Parlex-${PROJECT_VERSION}-win32")
elseif(TARGET parlex)
  install(TARGETS parlex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/res/parlex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/res/parlex.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          RENAME com.ostrel.parlex.metainfo.xml)
  install(FILES ${PROJECT_SOURCE_DIR}/res/parlex.conf.example DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/parlex)
  foreach(size IN ITEMS 16 24 32 48 256)
    install(FILES ${CMAKE_BINARY_DIR}/res-gen/parlex_${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME parlex.png)
  endforeach()
  add_dependencies(parlex parlex_resource_files)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Parlex maintainers <parlex@localhost>")
  # dpkg-shlibdeps (dpkg-dev) finds the libraries and, through their shlibs
  # entries, WebEngine's renderer process (libqt6webenginecore6-bin) and the
  # package of the JPEG writer and X11 plugins Qt loads at run time (libqt6gui6).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Qt's Wayland plugin is loaded at run time, so no library names it: without
  # it the program runs through Xwayland on a Wayland desktop. grim reads the
  # screen on wlroots desktops, which have no screenshot portal.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "grim")
endif()

include(CPack)
