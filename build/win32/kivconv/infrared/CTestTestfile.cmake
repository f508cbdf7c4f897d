# CMake generated Testfile for 
# Source directory: /work/main/kivconv/infrared
# Build directory: /work/main/build/win32/kivconv/infrared
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
