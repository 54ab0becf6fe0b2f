# ombra_install_package(): the Debian package (CPack, `--target package`):
# the same working system as the installer's, machine-wide under /opt/ombra
# with a menu entry; debian/postinst makes the shared hives and registers
# the components and workers, prerm unregisters them, postrm purges the
# hives. Deferred like the payload, so it knows every target.

function(ombra_install_package)
  get_property(src GLOBAL PROPERTY OMBRA_INSTALL_SOURCE_DIR)
  get_property(bin GLOBAL PROPERTY OMBRA_INSTALL_BINARY_DIR)
  set(opt opt/ombra)
  ombra_install_rows(rows)
  set(missing "")
  while(rows)
    list(POP_FRONT rows id kind what)
    if(kind STREQUAL "TARGET")
      if(NOT TARGET ${what})
        list(APPEND missing ${what})
        continue()
      endif()
      get_target_property(type ${what} TYPE)
      # The files as built: their run paths are relative ($ORIGIN).
      if(type STREQUAL "EXECUTABLE")
        install(PROGRAMS $<TARGET_FILE:${what}> DESTINATION ${opt})
      else()
        install(FILES $<TARGET_FILE:${what}> DESTINATION ${opt})
      endif()
    elseif(kind STREQUAL "TREE")
      get_filename_component(folder ${what} DIRECTORY)
      install(FILES ${OMBRA_RUN_DIR}/Drivers/${what} DESTINATION ${opt}/Drivers/${folder})
    else()
      install(FILES ${what} DESTINATION ${opt})
    endif()
  endwhile()
  if(missing)
    message(STATUS "Ombra package: this build has no ${missing}; the package goes without")
  endif()
  # Started from the menu the front end runs in /opt/ombra, where it finds
  # the default C-bus file under the name it tries first.
  install(FILES ${src}/payload/c_bus.txt DESTINATION ${opt}/C_Bus_Table RENAME C_Bus.txt)
  set(icon ${CMAKE_SOURCE_DIR}/ombra/app/resources/ombra.png)
  set(icon_line "")
  if(EXISTS ${icon})
    install(FILES ${icon} DESTINATION ${opt})
    set(icon_line "Icon=/opt/ombra/ombra.png\n")
  endif()
  file(WRITE ${bin}/ombra.desktop
    "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Ombra v0.37\n"
    "Comment=Identify, burn, verify and dump the flash of Selkan K/L boards\n"
    "Exec=/opt/ombra/Ombra\nPath=/opt/ombra\n${icon_line}Terminal=false\n"
    "Categories=Development;Electronics;\n")
  install(FILES ${bin}/ombra.desktop DESTINATION usr/share/applications)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME ombra)
  set(CPACK_PACKAGE_VERSION 0.37)
  set(CPACK_PACKAGE_VENDOR Tarvik)
  set(CPACK_PACKAGE_CONTACT "Tarvik Ombra <ombra@tarvik.invalid>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flash programmer for Selkan K/L boards over a serial line")
  set(CPACK_PACKAGE_DESCRIPTION "Identifies, burns, verifies and dumps the flash of boards built around the Selkan K/L system-on-chip through its boot ROM, with a board simulator to try every operation without hardware.")
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libqt6widgets6, libqt6gui6, libqt6core6, libserialport0, zlib1g")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${src}/debian/postinst;${src}/debian/prerm;${src}/debian/postrm")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
  set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
  include(CPack)
endfunction()
