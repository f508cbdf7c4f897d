kivport/CMakeFiles/kivport.dir/config/port_setup_dialog.cpp.obj: \
 /work/main/kivport/config/port_setup_dialog.cpp
