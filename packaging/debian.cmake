# kiv_VERSION_ARCH.deb: the kiv program, its manual page and the package's
# copyright and changelog files, with the library dependencies dpkg-shlibdeps
# finds in the stripped program.
include(GNUInstallDirs)
set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/kiv)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kiv desktop link maintainers <kiv@example.org>")

# kiv(1) is made by help2man from the built program's --help and --version and
# each command's --help, so the page says what the program does.
set(manual ${CMAKE_CURRENT_BINARY_DIR}/kiv.1.gz)
add_custom_command(OUTPUT ${manual}
  COMMAND ${CMAKE_COMMAND} -DKIV=$<TARGET_FILE:kiv> -DINCLUDE=${CMAKE_CURRENT_SOURCE_DIR}/debian/kiv.h2m
          -DOUT=${manual} -P ${CMAKE_CURRENT_SOURCE_DIR}/kiv-manual.cmake
  DEPENDS kiv ${CMAKE_CURRENT_SOURCE_DIR}/kiv-manual.cmake ${CMAKE_CURRENT_SOURCE_DIR}/debian/kiv.h2m
  VERBATIM)

# The copyright file in Debian's machine-readable form, the licence text taken
# from LICENSE: one space before each line, " ." for an empty one.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE text)
string(REGEX REPLACE "^.*\n(Permission is hereby granted)" "\\1" text "${text}")
string(REGEX REPLACE "\n+$" "" text "${text}")
string(REPLACE "\n\n" "\n.\n" text "${text}")
string(REPLACE "\n" "\n " LICENSE_TEXT " ${text}")
configure_file(debian/copyright.in ${CMAKE_CURRENT_BINARY_DIR}/copyright @ONLY)

# Debian keeps the changelog compressed, without a time stamp in the gzip header.
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
configure_file(debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/changelog > ${changelog}
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog)
add_custom_target(kiv_package_files ALL DEPENDS kiv ${manual} ${changelog})

install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${changelog} DESTINATION ${doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kiv)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION
    "kiv moves the handheld's record tables over a serial cable or an infrared\n"
    "adapter, and converts them to and from the desktop application's layout,\n"
    "record and length files, with the photo album's pictures as image files.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
