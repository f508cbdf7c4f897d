file(REMOVE_RECURSE
  "libkivconv_core.a"
  "libkivconv_core.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang )
  include(CMakeFiles/kivconv_core.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
