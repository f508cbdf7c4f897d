kivport/CMakeFiles/kivport.dir/config/port_setup_ini.cpp.obj: \
 /work/main/kivport/config/port_setup_ini.cpp
