file(REMOVE_RECURSE
  "CMakeFiles/kivport_core.dir/records/records.cpp.obj"
  "CMakeFiles/kivport_core.dir/records/records.cpp.obj.d"
  "libkivport_core.a"
  "libkivport_core.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/kivport_core.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
