# What the Debian package (debian/, built by dpkg-buildpackage) installs: the viewer, the
# stream tool, their manual pages, the desktop entry with its icon and AppStream metainfo, the
# .kvs stream file type, and the udev rule that lets the user at the seat open the device. The
# simulated device's libftd2xx.so is never installed: in the library path it would shadow the
# real driver's library.
include(GNUInstallDirs)

find_program(KESTRAVU_CONVERT convert REQUIRED)  # ImageMagick

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
add_custom_target(kestravu_package_files ALL DEPENDS ${kestravu_icons})

install(TARGETS kestravu kestravu-stream RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestravu.1 ${CMAKE_SOURCE_DIR}/packaging/kestravu-stream.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestravu.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Software centres list the viewer from its metainfo, named by its component id.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestravu.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME org.kestravu.kestravu.metainfo.xml)
# Recorded streams (.kvs) open in the viewer from a file manager.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestravu-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME kestravu.xml)
foreach(size ${kestravu_icon_sizes})
  install(FILES ${kestravu_icon_dir}/kestravu-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kestravu.png)
endforeach()
# With the prefix /usr the rule lands where udev reads it: /usr/lib/udev/rules.d.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/70-kestravu.rules DESTINATION lib/udev/rules.d)
