# kiv_VERSION_ARCH.deb: the kiv program and the simulated handheld kivsim,
# their manual pages, the README and the documents kiv's help points to, the
# sample table and the package's copyright and changelog files, with the
# library dependencies dpkg-shlibdeps finds in the stripped program.
include(GNUInstallDirs)
set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/kiv)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kiv desktop link maintainers <kiv@example.org>")

# kiv(1) and kivsim(1) are made by help2man from the built programs' --help
# and --version (and each kiv command's --help), so the pages say what the
# programs do; both show the README's quick start as their first example.
set(manuals)
function(kiv_manual program name)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1.gz)
  set(include ${CMAKE_CURRENT_SOURCE_DIR}/debian/${program}.h2m)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DINCLUDE=${include} "-DNAME=${name}"
            -DREADME=${CMAKE_SOURCE_DIR}/README.md ${ARGN} -DOUT=${page}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/manual.cmake
    DEPENDS ${program} ${CMAKE_CURRENT_SOURCE_DIR}/manual.cmake ${CMAKE_CURRENT_SOURCE_DIR}/help2roff.awk
            ${include} ${CMAKE_SOURCE_DIR}/README.md
    VERBATIM)
  set(manuals ${manuals} ${page} PARENT_SCOPE)
endfunction()
kiv_manual(kiv "move record tables between a handheld and this computer" -DCOMMANDS=ON)
kiv_manual(kivsim "play a handheld on a pseudo-terminal, to try kiv without one")

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

# kivsim opens a pseudo-terminal that kiv opens as its port; the preload
# library it pairs with under Wine has no use here.
install(TARGETS kivsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${changelog} DESTINATION ${doc})
# The README and the documents kiv's help and manual name, as
# /usr/share/doc/kiv/docs/...: the README's links into docs/ hold there too.
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${doc})
install(FILES ${CMAKE_SOURCE_DIR}/docs/formats.md ${CMAKE_SOURCE_DIR}/docs/kiv.md ${CMAKE_SOURCE_DIR}/docs/kiv-show.png
              ${CMAKE_SOURCE_DIR}/docs/kiv-show-phone.png DESTINATION ${doc}/docs)

# The sample table, to send to kivsim (the README's quick start). Its layout
# and record files go in UTF-8, as a Linux user reads them (kiv --utf8).
set(examples ${CMAKE_CURRENT_BINARY_DIR}/examples)
file(GLOB samples ${CMAKE_SOURCE_DIR}/samples/*)
foreach(sample IN LISTS samples)
  get_filename_component(name ${sample} NAME)
  if(name MATCHES "[.](table|txt)$")
    add_custom_command(OUTPUT ${examples}/${name}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${examples}
      COMMAND iconv -f CP932 -t UTF-8 -o ${examples}/${name} ${sample}
      DEPENDS ${sample})
    list(APPEND example_texts ${examples}/${name})
    install(FILES ${examples}/${name} DESTINATION ${doc}/examples)
  else()
    install(FILES ${sample} DESTINATION ${doc}/examples)
  endif()
endforeach()
add_custom_target(kiv_package_files ALL DEPENDS kiv kivsim ${manuals} ${changelog} ${example_texts})

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
    "record and length files, with the photo album's pictures as image files.\n"
    "kivsim plays the handheld on a pseudo-terminal, to try kiv without one.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
