kivport/CMakeFiles/kivport.dir/config/port_probe.cpp.obj: \
 /work/main/kivport/config/port_probe.cpp
