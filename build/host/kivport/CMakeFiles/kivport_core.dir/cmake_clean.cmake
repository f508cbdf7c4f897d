file(REMOVE_RECURSE
  "CMakeFiles/kivport_core.dir/records/records.cpp.o"
  "CMakeFiles/kivport_core.dir/records/records.cpp.o.d"
  "libkivport_core.a"
  "libkivport_core.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/kivport_core.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
