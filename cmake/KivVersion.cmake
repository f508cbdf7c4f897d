# The one version of everything built here is the project's (project() in the
# top CMakeLists.txt). Sources that show it include "kiv_version.h", generated
# from it; the resource compiler reads the same header for the DLLs' and
# kivhost's version resources.
configure_file(${CMAKE_CURRENT_LIST_DIR}/kiv_version.h.in ${CMAKE_BINARY_DIR}/generated/kiv_version.h @ONLY)
add_library(kiv_version INTERFACE)
target_include_directories(kiv_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
