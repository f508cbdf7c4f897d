# CMake generated Testfile for 
# Source directory: /work/main/kivconv
# Build directory: /work/main/build/win32/kivconv
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
subdirs("csv")
subdirs("number")
subdirs("kcsv")
subdirs("desktop")
subdirs("infrared")
