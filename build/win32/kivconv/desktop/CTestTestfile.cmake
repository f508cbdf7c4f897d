# CMake generated Testfile for 
# Source directory: /work/main/kivconv/desktop
# Build directory: /work/main/build/win32/kivconv/desktop
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
