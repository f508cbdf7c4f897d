# CMake generated Testfile for 
# Source directory: /work/main/kivconv/kcsv
# Build directory: /work/main/build/host/kivconv/kcsv
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
