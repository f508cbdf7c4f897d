# CMake generated Testfile for 
# Source directory: /work/main/seams
# Build directory: /work/main/build/win32/seams
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
