file(REMOVE_RECURSE
  "../bin/kivconv.dll"
  "../bin/kivconv.pdb"
  "CMakeFiles/kivconv.dir/desktop/desktop_exports.cpp.obj"
  "CMakeFiles/kivconv.dir/desktop/desktop_exports.cpp.obj.d"
  "CMakeFiles/kivconv.dir/infrared/kirx_exchange.cpp.obj"
  "CMakeFiles/kivconv.dir/infrared/kirx_exchange.cpp.obj.d"
  "CMakeFiles/kivconv.dir/kcsv/convert_exports.cpp.obj"
  "CMakeFiles/kivconv.dir/kcsv/convert_exports.cpp.obj.d"
  "CMakeFiles/kivconv.dir/kivconv.rc.res"
  "libkivconv.dll.a"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX RC)
  include(CMakeFiles/kivconv.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
