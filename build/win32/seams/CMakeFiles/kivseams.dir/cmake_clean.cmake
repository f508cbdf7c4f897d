file(REMOVE_RECURSE
  "CMakeFiles/kivseams.dir/memblock_win32.cpp.obj"
  "CMakeFiles/kivseams.dir/memblock_win32.cpp.obj.d"
  "CMakeFiles/kivseams.dir/textstream.cpp.obj"
  "CMakeFiles/kivseams.dir/textstream.cpp.obj.d"
  "libkivseams.a"
  "libkivseams.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/kivseams.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
