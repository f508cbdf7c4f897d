# cmake -DPROGRAM=path -DINCLUDE=file.h2m -DNAME="what it does" [-DCOMMANDS=ON] -DOUT=name.1.gz
#       -P manual.cmake
# A program's manual page: help2man reads the program's --help and --version;
# with COMMANDS, every command's own --help goes into a COMMANDS section after
# them. The program runs by its bare name, so its usage lines say so.
get_filename_component(dir ${PROGRAM} DIRECTORY)
get_filename_component(program ${PROGRAM} NAME)
set(run ${CMAKE_COMMAND} -E env "PATH=${dir}:$ENV{PATH}" ${program})
execute_process(COMMAND ${run} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${program} --help failed")
endif()

set(section "")
if(COMMANDS)
  # The commands are the first words of the lines below "Subcommands:".
  string(REGEX MATCH "\nSubcommands:\n([^\n]+\n)+" block "${help}")
  string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${block}")
  if(NOT names)
    message(FATAL_ERROR "${program} --help lists no commands under \"Subcommands:\"")
  endif()
  set(section "[COMMANDS]\n")
endif()
foreach(name IN LISTS names)
  string(STRIP "${name}" name)
  execute_process(COMMAND ${run} ${name} --help OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${program} ${name} --help failed")
  endif()
  # Plain text in roff: backslashes escaped, no line read as a request.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(APPEND section ".SS \"${program} ${name}\"\n.nf\n${text}.fi\n")
endforeach()
get_filename_component(out_dir ${OUT} DIRECTORY)
file(READ ${INCLUDE} include)
file(WRITE ${out_dir}/${program}.h2m "${include}${section}")

execute_process(COMMAND ${CMAKE_COMMAND} -E env "PATH=${dir}:$ENV{PATH}"
                help2man --no-info --no-discard-stderr --include ${out_dir}/${program}.h2m
                         --name "${NAME}" --section 1 --output ${out_dir}/${program}.1 ${program}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man failed")
endif()
execute_process(COMMAND gzip -9nf ${out_dir}/${program}.1 RESULT_VARIABLE failed)
if(failed OR NOT EXISTS ${OUT})
  message(FATAL_ERROR "gzip failed")
endif()
