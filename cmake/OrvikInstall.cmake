# Install rules and the Debian package: the programs, the desktop entry, icons, AppStream
# metainfo, manual pages and bash completion. `cmake --install build --prefix P` lays them out
# under P; `cpack -G DEB` in the build folder makes orvik_<version>_<arch>.deb with its Depends
# computed by dpkg-shlibdeps.
include(GNUInstallDirs)

set(ORVIK_APP_ID org.orvik.viewer)
set(ORVIK_HOMEPAGE "https://orvik.example.org/" CACHE STRING
    "Project home page named in the AppStream metainfo")
set(ORVIK_SCREENSHOT_BASE "https://orvik.example.org/docs" CACHE STRING
    "Address under which the README's screenshots (docs/) are published, for the metainfo")

set(desktop_src ${PROJECT_SOURCE_DIR}/resources/desktop)
set(desktop_out ${PROJECT_BINARY_DIR}/desktop)

# ---- programs ----------------------------------------------------------------------------------
set(orvik_programs orvik-cli orvik-samplecard)
if(TARGET orvik)
  list(PREPEND orvik_programs orvik)
endif()
install(TARGETS ${orvik_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The media halves of orvik-cli and orvik-samplecard (platform/helper_program.h).
install(TARGETS orvik-cli-media orvik-cli-library orvik-samplecard-writer RUNTIME DESTINATION ${ORVIK_HELPER_DIR})

# ---- desktop entry, metainfo, icons (only with the viewer) ------------------------------------
if(TARGET orvik)
  install(FILES ${desktop_src}/${ORVIK_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(${desktop_src}/${ORVIK_APP_ID}.metainfo.xml.in
                 ${desktop_out}/${ORVIK_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${desktop_out}/${ORVIK_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  # Every bitmap size is rendered from the one SVG at build time.
  set(icon_sizes 16 22 24 32 48 64 128 256 512)
  set(icon_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${desktop_src}/orvik.svg DESTINATION ${icon_dir}/scalable/apps
          RENAME ${ORVIK_APP_ID}.svg)
  find_program(RSVG_CONVERT rsvg-convert)
  if(RSVG_CONVERT)
    set(icon_pngs)
    foreach(size IN LISTS icon_sizes)
      set(png ${desktop_out}/icons/${size}/${ORVIK_APP_ID}.png)
      add_custom_command(
        OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${desktop_out}/icons/${size}
        COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${desktop_src}/orvik.svg
        DEPENDS ${desktop_src}/orvik.svg
        VERBATIM)
      list(APPEND icon_pngs ${png})
      install(FILES ${png} DESTINATION ${icon_dir}/${size}x${size}/apps)
    endforeach()
    add_custom_target(orvik_icons ALL DEPENDS ${icon_pngs})
  else()
    message(WARNING "rsvg-convert is missing (run scripts/install-deps.sh): only the scalable "
                    "icon is installed")
  endif()
endif()

# ---- manual pages, generated from the programs' own --help, installed compressed ----------------
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
  set(man_pages)
  set(summary_orvik "viewer and settings editor for a dash camera's memory card")
  set(summary_orvik-cli "list, export and prepare a dash camera's memory card from scripts")
  set(summary_orvik-samplecard "write a sample memory card of the dash camera")
  foreach(prog IN LISTS orvik_programs)
    set(page ${desktop_out}/man/${prog}.1)
    set(extra ${desktop_src}/${prog}.h2m)
    # -n: no name or time in the gzip header, so the same page gives the same bytes.
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:${prog}>
              -DNAME=${prog} "-DSUMMARY=${summary_${prog}}" -DINCLUDE=${extra} -DOUT=${page}
              -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
      COMMAND ${GZIP} -9nf ${page}
      DEPENDS ${prog} ${extra} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
      COMMENT "Writing the manual page ${prog}.1"
      VERBATIM)
    list(APPEND man_pages ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  add_custom_target(orvik_man_pages ALL DEPENDS ${man_pages})
else()
  message(WARNING "help2man or gzip is missing (run scripts/install-deps.sh): no manual pages")
endif()

# ---- the package's documents: copyright and changelog (Debian's formats) -----------------------
set(ORVIK_MAINTAINER "ORVIK developers <maintainers@orvik.example.org>" CACHE STRING
    "Maintainer of the Debian package (name <address>), also named in its changelog")
set(ORVIK_RELEASE_DATE "Tue, 08 Dec 2026 12:00:00 +0000" CACHE STRING
    "Date of this release in the changelog (RFC 5322), so a package build is reproducible")
set(doc_out ${PROJECT_BINARY_DIR}/doc)
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${doc_out}/changelog @ONLY)
if(GZIP)
  add_custom_command(
    OUTPUT ${doc_out}/changelog.gz
    COMMAND ${GZIP} -9nc ${doc_out}/changelog > ${doc_out}/changelog.gz
    DEPENDS ${doc_out}/changelog
    VERBATIM)
  add_custom_target(orvik_changelog ALL DEPENDS ${doc_out}/changelog.gz)
  install(FILES ${doc_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(FILES ${desktop_src}/orvik-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME orvik-cli)

# ---- Debian package ----------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ORVIK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer and configuration tool for a two-channel dash camera")
# The long description only: CPack puts the summary in front and indents every line by one space.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Lists the recordings of a dash camera's memory card and plays the front and
rear video side by side, with the speed, GPS, map position and G-sensor
curves stored in them. Edits the camera's settings file, exports the
driving-route records and telemetry, and offers orvik-cli for scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Playback tells the user when FFmpeg's decoders are missing; the Korean texts want CJK fonts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n, udisks2")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ORVIK_HOMEPAGE})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
