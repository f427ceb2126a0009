# What an install puts where (under any prefix; the Debian package uses /usr):
#   bin/dravix
#   share/dravix/             the app's read-only resources: Info.json, the alert picture, the
#                             editor page (ace/); the app finds them from its own path
#   share/applications/       the desktop entry (menus; the handler of sftp://, ftp://, ftps:// links)
#   share/icons/hicolor/      the app's icon: scalable, and PNG at 48, 128 and 256
#   share/metainfo/           the AppStream metainfo (software centres), with this version's release
#   share/doc/dravix/         copyright (with the bundled Ace's and Bootstrap Icons' licences), changelog
#   share/man/man1/           the manual page (dravix.1)
#   share/lintian/overrides/  what lintian is told about the editor page
# and the Debian package of all that (CPack, `cpack -G DEB`; scripts/package drives it).
set(dravix_pkg_src ${CMAKE_CURRENT_LIST_DIR})
set(dravix_pkg_out ${PROJECT_BINARY_DIR}/packaging)
set(DRAVIX_APP_ID com.dravix.ftpclient)
set(DRAVIX_PACKAGE_CONTACT "Dravix Developers <packages@dravix.com>")

install(TARGETS dravix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The sanitizer build's libraries are shared (see cmake/Dravix.cmake): an install of that build
# carries them in lib/dravix/, where the program finds them from its own path.
if(DRAVIX_SHARED_LIBS)
  get_property(dravix_libraries GLOBAL PROPERTY DRAVIX_LIBRARIES)
  list(APPEND dravix_libraries dravix_app)
  install(TARGETS ${dravix_libraries} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/dravix)
  set_target_properties(dravix PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}/dravix")
  set_target_properties(${dravix_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
install(FILES ${PROJECT_BINARY_DIR}/resources/Info.json ${PROJECT_BINARY_DIR}/resources/AlertWindowAppIcon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dravix)
if(DEFINED DRAVIX_EDITOR_PAGE_DIR AND TARGET editor_page)
  install(DIRECTORY ${DRAVIX_EDITOR_PAGE_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/dravix)
endif()

install(FILES ${dravix_pkg_src}/${DRAVIX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${dravix_pkg_src}/${DRAVIX_APP_ID}.metainfo.xml.in ${dravix_pkg_out}/${DRAVIX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${dravix_pkg_out}/${DRAVIX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The icon: the SVG as it is, and PNGs drawn from it at build time with Qt Svg.
install(FILES ${dravix_pkg_src}/${DRAVIX_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
add_executable(dravix_render_icon ${dravix_pkg_src}/render_icon.cpp)
target_link_libraries(dravix_render_icon PRIVATE Qt6::Gui Qt6::Svg)
set(dravix_icon_pngs "")
foreach(size 48 128 256)
  set(png ${dravix_pkg_out}/icons/${size}x${size}/${DRAVIX_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dravix_pkg_out}/icons/${size}x${size}
    COMMAND dravix_render_icon ${dravix_pkg_src}/${DRAVIX_APP_ID}.svg ${size} ${png}
    DEPENDS dravix_render_icon ${dravix_pkg_src}/${DRAVIX_APP_ID}.svg
    COMMENT "Drawing the app icon at ${size}x${size}" VERBATIM)
  list(APPEND dravix_icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(dravix_icons ALL DEPENDS ${dravix_icon_pngs})

# The copyright file, with the licences of what the app bundles, as the npm packages ship them.
function(dravix_license_field var file)
  set(text "")
  if(EXISTS ${file})
    file(STRINGS ${file} lines)
    foreach(line IN LISTS lines)
      string(STRIP "${line}" stripped)
      if(stripped STREQUAL "")
        string(APPEND text " .\n")
      else()
        string(APPEND text " ${line}\n")
      endif()
    endforeach()
  else()
    set(text " See ${file}.\n")
  endif()
  string(REGEX REPLACE "\n$" "" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()
dravix_license_field(DRAVIX_ACE_LICENSE ${PROJECT_SOURCE_DIR}/resources/node_modules/ace-builds/LICENSE)
dravix_license_field(DRAVIX_ICONS_LICENSE ${PROJECT_SOURCE_DIR}/resources/node_modules/bootstrap-icons/LICENSE)
dravix_license_field(DRAVIX_ACEDIFF_LICENSE ${PROJECT_SOURCE_DIR}/resources/node_modules/ace-diff/LICENSE.md)
dravix_license_field(DRAVIX_DMP_LICENSE ${PROJECT_SOURCE_DIR}/resources/node_modules/@sanity/diff-match-patch/LICENSE)
configure_file(${dravix_pkg_src}/copyright.in ${dravix_pkg_out}/copyright @ONLY)
set(dravix_docdir ${CMAKE_INSTALL_DATADIR}/doc/dravix)
install(FILES ${dravix_pkg_out}/copyright DESTINATION ${dravix_docdir})

# A Debian changelog for this version, compressed as Debian wants it (gzip -9n: no name, no time).
execute_process(COMMAND date -u -R -d "${DRAVIX_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE DRAVIX_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)
file(WRITE ${dravix_pkg_out}/changelog
  "dravix (${PROJECT_VERSION}) stable; urgency=medium\n\n  * Release ${PROJECT_VERSION}.\n\n"
  " -- ${DRAVIX_PACKAGE_CONTACT}  ${DRAVIX_RELEASE_DATE_RFC2822}\n")
add_custom_command(OUTPUT ${dravix_pkg_out}/changelog.gz
  COMMAND gzip -9nf -k ${dravix_pkg_out}/changelog
  DEPENDS ${dravix_pkg_out}/changelog VERBATIM)
add_custom_target(dravix_changelog ALL DEPENDS ${dravix_pkg_out}/changelog.gz)
install(FILES ${dravix_pkg_out}/changelog.gz DESTINATION ${dravix_docdir})
# The manual page, compressed the same way.
configure_file(${dravix_pkg_src}/dravix.1.in ${dravix_pkg_out}/dravix.1 @ONLY)
add_custom_command(OUTPUT ${dravix_pkg_out}/dravix.1.gz
  COMMAND gzip -9nf -k ${dravix_pkg_out}/dravix.1
  DEPENDS ${dravix_pkg_out}/dravix.1 VERBATIM)
add_custom_target(dravix_manual_page ALL DEPENDS ${dravix_pkg_out}/dravix.1.gz)
install(FILES ${dravix_pkg_out}/dravix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# lintian's word on the editor's HTML snippets: their text names web addresses (a script of a CDN,
# a plugin's download page) that a user may insert into a page of their own; the app loads none.
install(FILES ${dravix_pkg_src}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME dravix)

# The Debian package. Its dependencies come from the program's linked libraries (dpkg-shlibdeps;
# the web engine's library brings its helper process along).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dravix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${DRAVIX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VENDOR Dravix)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "editor for web files on your own FTP, SFTP and WebDAV servers")
set(CPACK_PACKAGE_DESCRIPTION
"An editor for the source files of websites (HTML, CSS, SCSS, Sass, Less,
JavaScript, PHP, text) where they live: on the user's own FTP, FTP over TLS,
SFTP and WebDAV servers. Saved servers with their passwords in the desktop
keyring, a remote file browser, and a code editor with a live HTML preview.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
include(CPack)
