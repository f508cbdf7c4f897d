kivport/CMakeFiles/kivport.dir/driver/block_files.cpp.obj: \
 /work/main/kivport/driver/block_files.cpp
