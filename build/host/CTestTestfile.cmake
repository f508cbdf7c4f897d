# CMake generated Testfile for 
# Source directory: /work/main
# Build directory: /work/main/build/host
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
subdirs("googletest")
subdirs("seams")
subdirs("kivconv")
subdirs("kivport")
subdirs("bench")
