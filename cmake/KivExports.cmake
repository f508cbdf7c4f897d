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
