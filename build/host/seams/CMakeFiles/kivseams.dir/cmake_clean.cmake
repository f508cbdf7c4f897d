file(REMOVE_RECURSE
  "CMakeFiles/kivseams.dir/memblock_heap.cpp.o"
  "CMakeFiles/kivseams.dir/memblock_heap.cpp.o.d"
  "CMakeFiles/kivseams.dir/textstream.cpp.o"
  "CMakeFiles/kivseams.dir/textstream.cpp.o.d"
  "libkivseams.a"
  "libkivseams.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/kivseams.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
