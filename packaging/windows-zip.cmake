# kiv-desktop-link-VERSION-windows.zip: the 32-bit build's DLLs and kivhost in
# x86/, the 64-bit build's in x64/, and once at the top the documents a macro
# writer needs, with the declarations as a module to import. CPack installs the component "dlls" of each build tree into
# its folder and "docs" of the 32-bit tree at the top; checksums.cmake then
# lists every file in SHA256SUMS.
install(TARGETS kivconv kivport kivhost
        RUNTIME DESTINATION . COMPONENT dlls
        ARCHIVE DESTINATION lib COMPONENT import-libraries)

# README.txt in code page 932 (what Notepad on a Japanese system opens by
# default) and README-UTF8.txt with a byte order mark, both with CR LF.
# (file(READ) would drop the carriage returns, so the files are joined whole.)
set(readme ${CMAKE_CURRENT_BINARY_DIR}/README-UTF8.txt)
configure_file(windows/README.txt.in ${readme}.body @ONLY NEWLINE_STYLE CRLF)
string(ASCII 239 187 191 bom)
file(WRITE ${readme}.bom "${bom}")
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${readme}.bom ${readme}.body OUTPUT_FILE ${readme})
execute_process(COMMAND iconv -f UTF-8 -t CP932 ${readme}.body
                OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/README.txt RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "packaging/windows/README.txt.in has text outside code page 932")
endif()
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${readme} ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
        DESTINATION . COMPONENT docs)

# KivDeclarations.bas: the declarations block of docs/macros.md as a module
# that a macro editor imports, in code page 932 with CR LF like the editor's
# own exports, so that the module and the document cannot differ.
set(macros_md ${CMAKE_SOURCE_DIR}/docs/macros.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${macros_md})
file(READ ${macros_md} macros)
string(FIND "${macros}" "\n## Declarations\n" at)
if(at GREATER -1)
  string(SUBSTRING "${macros}" ${at} -1 macros)
  string(FIND "${macros}" "\n```vb\n" begin)
  string(FIND "${macros}" "\n```\n" end)
endif()
if(at EQUAL -1 OR begin EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "docs/macros.md has no ```vb block under \"## Declarations\"")
endif()
math(EXPR begin "${begin} + 7")
math(EXPR length "${end} + 1 - ${begin}")
string(SUBSTRING "${macros}" ${begin} ${length} declarations)
set(module "Attribute VB_Name = \"KivDeclarations\"\n${declarations}")
string(REPLACE "\n" "\r\n" module "${module}")
set(bas ${CMAKE_CURRENT_BINARY_DIR}/KivDeclarations.bas)
file(WRITE ${bas}.utf8 "${module}")
execute_process(COMMAND iconv -f UTF-8 -t CP932 ${bas}.utf8 OUTPUT_FILE ${bas} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "docs/macros.md's declarations have text outside code page 932")
endif()
install(FILES ${macros_md} ${bas} DESTINATION docs COMPONENT docs)

set(KIV_DIST_X86_BUILD ${CMAKE_SOURCE_DIR}/build/win32 CACHE PATH "The 32-bit build tree the zip's x86/ comes from")
set(KIV_DIST_X64_BUILD ${CMAKE_SOURCE_DIR}/build/win64 CACHE PATH "The 64-bit build tree the zip's x64/ comes from")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME kiv-desktop-link-${PROJECT_VERSION}-windows)
set(CPACK_INSTALL_CMAKE_PROJECTS
    ${KIV_DIST_X86_BUILD} kiv dlls /x86
    ${KIV_DIST_X64_BUILD} kiv dlls /x64
    ${KIV_DIST_X86_BUILD} kiv docs /)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/checksums.cmake)
