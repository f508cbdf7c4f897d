# CMake generated Testfile for 
# Source directory: /work/main/kivport
# Build directory: /work/main/build/host/kivport
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
