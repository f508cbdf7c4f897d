# What the 64-bit Windows build needs beyond the 32-bit one.

# kiv_export_list(TARGET)
# A DLL's exports.def names the 32-bit stdcall symbols behind each export
# ("_KivSendData@8 = KivSendData@8"). x64 has no such decoration, so the 64-bit
# build links a copy whose internal names lose their "@N"; the exported names,
# decorated ones included, stay exactly those of the 32-bit DLL, and a macro's
# Alias strings serve both.
function(kiv_export_list target)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    return()
  endif()
  set(def ${CMAKE_CURRENT_SOURCE_DIR}/exports.def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  file(READ ${def} text)
  string(REGEX REPLACE "=[ \t]*([A-Za-z_][A-Za-z0-9_]*)@[0-9]+" "= \\1" text "${text}")
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}-x64.def)
  file(CONFIGURE OUTPUT ${out} CONTENT "${text}" @ONLY)
  set_source_files_properties(${def} PROPERTIES HEADER_FILE_ONLY ON)
  target_sources(${target} PRIVATE ${out})
endfunction()

# kiv_add_32bit_fixture(TARGET DLL_PATH COMMANDS...)
# In the 64-bit build: a test library built as users have it, a 32-bit file,
# which a 64-bit process cannot load. COMMANDS run the 32-bit compiler
# (KIV_CC32) and leave DLL_PATH; the test program TARGET depends on it.
set(KIV_CC32 i686-w64-mingw32-g++-posix)
set(KIV_RC32 i686-w64-mingw32-windres)
function(kiv_add_32bit_fixture target dll)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8 OR NOT TARGET ${target})
    return()
  endif()
  cmake_parse_arguments(F "" "" "COMMANDS;DEPENDS" ${ARGN})
  get_filename_component(dir ${dll} DIRECTORY)
  add_custom_command(OUTPUT ${dll}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    ${F_COMMANDS}
    DEPENDS ${F_DEPENDS}
    VERBATIM)
  add_custom_target(${target}_32bit_fixture DEPENDS ${dll})
  add_dependencies(${target} ${target}_32bit_fixture)
endfunction()
