# Run by CPack once the zip's files are staged: SHA256SUMS beside them lists
# every file, in the form sha256sum -c reads, sorted by path.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*)
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(f IN LISTS files)
  file(SHA256 ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${f} sum)
  string(APPEND sums "${sum}  ${f}\n")
endforeach()
file(WRITE ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/SHA256SUMS "${sums}")
