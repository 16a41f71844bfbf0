# The Debian package kestravu_<version>_amd64.deb, made by `cpack` in the build folder: the
# viewer, the stream tool with its manual page, the desktop entry with its icon, and the udev
# rule that lets the user at the seat open the device. The simulated device's libftd2xx.so is
# never installed: in the library path it would shadow the real driver's library.
include(GNUInstallDirs)

find_program(KESTRAVU_CONVERT convert REQUIRED)  # ImageMagick
find_program(KESTRAVU_GZIP gzip REQUIRED)

# The same 32 x 32 picture as the Windows program's icon, drawn by the same script; larger
# sizes are whole multiples of it, scaled without smoothing so that they stay sharp.
set(kestravu_icon_sizes 32 64 128)
set(kestravu_icon_dir ${CMAKE_BINARY_DIR}/packaging/icons)
set(kestravu_icons "")
foreach(size ${kestravu_icon_sizes})
  list(APPEND kestravu_icons ${kestravu_icon_dir}/kestravu-${size}.png)
endforeach()
add_custom_command(
  OUTPUT ${kestravu_icons}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${kestravu_icon_dir}
  COMMAND bash ${CMAKE_SOURCE_DIR}/app/win32/resources/make_icon.sh ${kestravu_icon_dir}/kestravu.ico
  COMMAND ${KESTRAVU_CONVERT} ${kestravu_icon_dir}/kestravu.ico PNG32:${kestravu_icon_dir}/kestravu-32.png
  COMMAND ${KESTRAVU_CONVERT} ${kestravu_icon_dir}/kestravu-32.png -filter point -resize 64x64
          PNG32:${kestravu_icon_dir}/kestravu-64.png
  COMMAND ${KESTRAVU_CONVERT} ${kestravu_icon_dir}/kestravu-32.png -filter point -resize 128x128
          PNG32:${kestravu_icon_dir}/kestravu-128.png
  DEPENDS ${CMAKE_SOURCE_DIR}/app/win32/resources/make_icon.sh
  COMMENT "Drawing the desktop icons")

# -n leaves the time stamp out, so that the page's bytes depend on its text alone.
set(kestravu_man_page ${CMAKE_BINARY_DIR}/packaging/kestravu-stream.1.gz)
add_custom_command(
  OUTPUT ${kestravu_man_page}
  COMMAND ${KESTRAVU_GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/kestravu-stream.1 > ${kestravu_man_page}
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/kestravu-stream.1
  COMMENT "Compressing the manual page")
add_custom_target(kestravu_package_files ALL DEPENDS ${kestravu_icons} ${kestravu_man_page})

install(TARGETS kestravu kestravu-stream RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${kestravu_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestravu.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Recorded streams (.kvs) open in the viewer from a file manager.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestravu-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME kestravu.xml)
foreach(size ${kestravu_icon_sizes})
  install(FILES ${kestravu_icon_dir}/kestravu-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kestravu.png)
endforeach()
# The package's prefix /usr puts the rule where udev reads it: /usr/lib/udev/rules.d.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/70-kestravu.rules DESTINATION lib/udev/rules.d)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestravu)
set(CPACK_PACKAGE_VENDOR "KESTRAVU")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for the KESTRAVU USB video capture device")
set(CPACK_PACKAGE_DESCRIPTION
    "KESTRAVU shows the live picture of the KESTRAVU USB capture device in a window, with its
frame rate and stream bytes per frame in the title, at normal or double (Wide) scale, in the
16-colour palette or the four-colour Screen4 rendering. It reads the device through the chip
vendor's D2XX library when that is installed, otherwise through libftdi1.
It records the stream, saves pictures and plays recorded stream files.
The package also holds kestravu-stream, which decodes capture streams into PNG pictures or a
video, tells what a stream holds, encodes pictures into a stream and writes a test pattern.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KESTRAVU developers <kestravu@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies as dpkg-shlibdeps finds them from the programs' linked libraries (Qt 6,
# libftdi1, libpng).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A device plugged in before the rule existed gets its access at once, without replugging.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
