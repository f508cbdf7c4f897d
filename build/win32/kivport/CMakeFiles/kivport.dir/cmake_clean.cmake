file(REMOVE_RECURSE
  "../bin/kivport.dll"
  "../bin/kivport.pdb"
  "CMakeFiles/kivport.dir/config/port_probe.cpp.obj"
  "CMakeFiles/kivport.dir/config/port_probe.cpp.obj.d"
  "CMakeFiles/kivport.dir/config/port_setup_dialog.cpp.obj"
  "CMakeFiles/kivport.dir/config/port_setup_dialog.cpp.obj.d"
  "CMakeFiles/kivport.dir/config/port_setup_ini.cpp.obj"
  "CMakeFiles/kivport.dir/config/port_setup_ini.cpp.obj.d"
  "CMakeFiles/kivport.dir/driver/block_files.cpp.obj"
  "CMakeFiles/kivport.dir/driver/block_files.cpp.obj.d"
  "CMakeFiles/kivport.dir/driver/transfer_exports.cpp.obj"
  "CMakeFiles/kivport.dir/driver/transfer_exports.cpp.obj.d"
  "CMakeFiles/kivport.dir/records/driver_win32.cpp.obj"
  "CMakeFiles/kivport.dir/records/driver_win32.cpp.obj.d"
  "CMakeFiles/kivport.dir/resources/kivport.rc.res"
  "libkivport.dll.a"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX RC)
  include(CMakeFiles/kivport.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
