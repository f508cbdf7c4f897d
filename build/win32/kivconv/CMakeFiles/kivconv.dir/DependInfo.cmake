
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  "RC"
  )
# The set of files for implicit dependencies of each language:
set(CMAKE_DEPENDS_CHECK_RC
  "/work/main/kivconv/kivconv.rc" "/work/main/build/win32/kivconv/CMakeFiles/kivconv.dir/kivconv.rc.res"
  )

# Preprocessor definitions for this target.
set(CMAKE_TARGET_DEFINITIONS_RC
  "WINVER=0x0501"
  "_WIN32_WINNT=0x0501"
  "kivconv_EXPORTS"
  )

# The include file search paths:
set(CMAKE_RC_TARGET_INCLUDE_PATH
  "/work/main/kivconv"
  "/work/main/seams"
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/kivconv/desktop/desktop_exports.cpp" "kivconv/CMakeFiles/kivconv.dir/desktop/desktop_exports.cpp.obj" "gcc" "kivconv/CMakeFiles/kivconv.dir/desktop/desktop_exports.cpp.obj.d"
  "/work/main/kivconv/infrared/kirx_exchange.cpp" "kivconv/CMakeFiles/kivconv.dir/infrared/kirx_exchange.cpp.obj" "gcc" "kivconv/CMakeFiles/kivconv.dir/infrared/kirx_exchange.cpp.obj.d"
  "/work/main/kivconv/kcsv/convert_exports.cpp" "kivconv/CMakeFiles/kivconv.dir/kcsv/convert_exports.cpp.obj" "gcc" "kivconv/CMakeFiles/kivconv.dir/kcsv/convert_exports.cpp.obj.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/win32/kivconv/CMakeFiles/kivconv_core.dir/DependInfo.cmake"
  "/work/main/build/win32/seams/CMakeFiles/kivseams.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
