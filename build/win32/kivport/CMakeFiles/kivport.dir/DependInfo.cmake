
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  "RC"
  )
# The set of files for implicit dependencies of each language:
set(CMAKE_DEPENDS_CHECK_RC
  "/work/main/kivport/resources/kivport.rc" "/work/main/build/win32/kivport/CMakeFiles/kivport.dir/resources/kivport.rc.res"
  )

# Preprocessor definitions for this target.
set(CMAKE_TARGET_DEFINITIONS_RC
  "WINVER=0x0501"
  "_WIN32_WINNT=0x0501"
  "kivport_EXPORTS"
  )

# The include file search paths:
set(CMAKE_RC_TARGET_INCLUDE_PATH
  "/work/main/kivport"
  "/work/main/kivport/resources"
  "/work/main/kivport/records"
  "/work/main/seams"
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/kivport/config/port_probe.cpp" "kivport/CMakeFiles/kivport.dir/config/port_probe.cpp.obj" "gcc" "kivport/CMakeFiles/kivport.dir/config/port_probe.cpp.obj.d"
  "/work/main/kivport/config/port_setup_dialog.cpp" "kivport/CMakeFiles/kivport.dir/config/port_setup_dialog.cpp.obj" "gcc" "kivport/CMakeFiles/kivport.dir/config/port_setup_dialog.cpp.obj.d"
  "/work/main/kivport/config/port_setup_ini.cpp" "kivport/CMakeFiles/kivport.dir/config/port_setup_ini.cpp.obj" "gcc" "kivport/CMakeFiles/kivport.dir/config/port_setup_ini.cpp.obj.d"
  "/work/main/kivport/driver/block_files.cpp" "kivport/CMakeFiles/kivport.dir/driver/block_files.cpp.obj" "gcc" "kivport/CMakeFiles/kivport.dir/driver/block_files.cpp.obj.d"
  "/work/main/kivport/driver/transfer_exports.cpp" "kivport/CMakeFiles/kivport.dir/driver/transfer_exports.cpp.obj" "gcc" "kivport/CMakeFiles/kivport.dir/driver/transfer_exports.cpp.obj.d"
  "/work/main/kivport/records/driver_win32.cpp" "kivport/CMakeFiles/kivport.dir/records/driver_win32.cpp.obj" "gcc" "kivport/CMakeFiles/kivport.dir/records/driver_win32.cpp.obj.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/win32/kivport/CMakeFiles/kivport_core.dir/DependInfo.cmake"
  "/work/main/build/win32/seams/CMakeFiles/kivseams.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
