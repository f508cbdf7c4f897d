# CMake generated Testfile for 
# Source directory: /work/main
# Build directory: /work/main/build/win32
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
add_test([=[wine_start]=] "/work/main/scripts/wine-env.sh" "start" "/work/main/build/win32")
set_tests_properties([=[wine_start]=] PROPERTIES  FIXTURES_SETUP "wine" TIMEOUT "300" _BACKTRACE_TRIPLES "/work/main/cmake/KivTesting.cmake;33;add_test;/work/main/cmake/KivTesting.cmake;0;;/work/main/CMakeLists.txt;40;include;/work/main/CMakeLists.txt;0;")
add_test([=[wine_stop]=] "/work/main/scripts/wine-env.sh" "stop" "/work/main/build/win32")
set_tests_properties([=[wine_stop]=] PROPERTIES  FIXTURES_CLEANUP "wine" _BACKTRACE_TRIPLES "/work/main/cmake/KivTesting.cmake;34;add_test;/work/main/cmake/KivTesting.cmake;0;;/work/main/CMakeLists.txt;40;include;/work/main/CMakeLists.txt;0;")
subdirs("googletest")
subdirs("seams")
subdirs("kivconv")
subdirs("kivport")
subdirs("tools")
subdirs("bench")
