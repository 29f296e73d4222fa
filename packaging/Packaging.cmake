# What a user's installation holds besides the programs and helper libraries:
# the manual pages, the desktop icon and the AppStream metainfo; and the
# Debian package CPack builds from it all (scripts/package.sh).

set(TAMSIN_APPSTREAM_ID io.github.corvane.tamsin)

# Manual pages carry the version; they are installed gzipped, as Debian does.
set(TAMSIN_MAN_PAGES tamsin tamsin-mkimage)
if(TAMSIN_BUILD_GUI)
  list(APPEND TAMSIN_MAN_PAGES tamsin-gui)
endif()
set(TAMSIN_MAN_GZ)
foreach(page IN LISTS TAMSIN_MAN_PAGES)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.1.gz
                     COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/man/${page}.1
                     DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.1
                     COMMENT "Compressing the manual page ${page}(1)")
  list(APPEND TAMSIN_MAN_GZ ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${TAMSIN_MAN_GZ})
install(FILES ${TAMSIN_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TAMSIN_BUILD_GUI)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/tamsin.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${TAMSIN_APPSTREAM_ID}.metainfo.xml.in
                 ${PROJECT_BINARY_DIR}/${TAMSIN_APPSTREAM_ID}.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${TAMSIN_APPSTREAM_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

set(CPACK_PACKAGE_NAME tamsin)
set(CPACK_PACKAGE_VENDOR "Tamsin developers")
set(CPACK_PACKAGE_CONTACT "Tamsin developers <tamsin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read-only recovery of Novell NetWare traditional volumes")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds NetWare traditional volumes on disks and disk images (raw, VMDK,\n"
    "VHD/VHDX, QCOW2, E01) whose partition, volume tables, FAT or directory are\n"
    "damaged, lists their files, deleted ones included, and copies them out.\n"
    "Disks are only ever read. Includes the command tamsin, the wizard\n"
    "tamsin-gui and the test image writer tamsin-mkimage.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# The shared libraries come from dpkg-shlibdeps; the Qt platform plugins are
# loaded at run time, so it cannot see them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TAMSIN_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
include(CPack)
