# cmake -DPROGRAM=path -DINCLUDE=file.h2m -DNAME="what it does" [-DCOMMANDS=ON]
#       [-DREADME=README.md] -DOUT=name.1.gz -P manual.cmake
# A program's manual page: help2man reads the program's --help and --version;
# with COMMANDS, every command's own --help (a command's commands for one
# that has them) becomes its part of the COMMANDS section and its usage a
# line of the SYNOPSIS, and the program's exit table the EXIT STATUS
# section; with README, the README's quick start is the first example. The
# help texts are the only source: help2roff.awk turns them into man text.
# The program runs by its bare name, so its usage lines say so.
get_filename_component(dir ${PROGRAM} DIRECTORY)
get_filename_component(program ${PROGRAM} NAME)
get_filename_component(out_dir ${OUT} DIRECTORY)
get_filename_component(here ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
set(run ${CMAKE_COMMAND} -E env "PATH=${dir}:$ENV{PATH}" ${program})
set(awk ${CMAKE_COMMAND} -E env LC_ALL=C awk -f ${here}/help2roff.awk)

# help_of(VAR words...): the --help of "program words...", kept in a file.
function(help_of var)
  string(REPLACE ";" "-" file "${program}-${ARGN}")
  set(file ${out_dir}/${file}.help)
  execute_process(COMMAND ${run} ${ARGN} --help OUTPUT_FILE ${file} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${program} ${ARGN} --help failed")
  endif()
  set(${var} ${file} PARENT_SCOPE)
endfunction()

# roff(VAR mode files...): help2roff.awk's text for the files.
function(roff var mode)
  execute_process(COMMAND ${awk} -v mode=${mode} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "help2roff.awk -v mode=${mode} ${ARGN} failed")
  endif()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# The commands are the first words of the lines below "Subcommands:".
function(command_names var help_file)
  file(READ ${help_file} help)
  string(REGEX MATCH "\nSubcommands:\n([^\n]+\n)+" block "${help}")
  string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${block}")
  list(TRANSFORM names STRIP)
  set(${var} ${names} PARENT_SCOPE)
endfunction()

help_of(general)
set(sections "")
if(COMMANDS)
  command_names(names ${general})
  if(NOT names)
    message(FATAL_ERROR "${program} --help lists no commands under \"Subcommands:\"")
  endif()
  set(synopsis "")
  set(commands "")
  foreach(name IN LISTS names)
    help_of(help ${name})
    command_names(subs ${help})
    set(leaves "${name}")
    if(subs)
      set(leaves "")
      foreach(sub IN LISTS subs)
        list(APPEND leaves "${name} ${sub}")
      endforeach()
    endif()
    foreach(leaf IN LISTS leaves)
      separate_arguments(leaf_words UNIX_COMMAND "${leaf}")
      help_of(help ${leaf_words})
      roff(line synopsis ${help})
      roff(part command ${general} ${help})
      string(APPEND synopsis "${line}")
      string(APPEND commands "${part}")
    endforeach()
  endforeach()
  roff(options options ${general})
  roff(exits exits ${general})
  string(APPEND sections "[SYNOPSIS]\n${synopsis}[=OPTIONS]\n${options}[COMMANDS]\n${commands}"
         "[EXIT STATUS]\n${exits}")
endif()
if(README)
  roff(quickstart examples -v "heading=### Quick start without a handheld" ${README})
  if(NOT quickstart)
    message(FATAL_ERROR "${README} has no quick start")
  endif()
  string(APPEND sections "[EXAMPLES]\nSend the sample table to the simulated handheld and take it back "
         "(the quick start of the README; what a command prints is under it):\n.PP\n.nf\n${quickstart}.fi\n")
endif()
file(READ ${INCLUDE} include)
file(WRITE ${out_dir}/${program}.h2m "${sections}${include}")

execute_process(COMMAND ${CMAKE_COMMAND} -E env "PATH=${dir}:$ENV{PATH}"
                help2man --no-info --no-discard-stderr --locale C.UTF-8 --include ${out_dir}/${program}.h2m
                         --name "${NAME}" --section 1 --output ${out_dir}/${program}.1 ${program}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man failed")
endif()
execute_process(COMMAND gzip -9nf ${out_dir}/${program}.1 RESULT_VARIABLE failed)
if(failed OR NOT EXISTS ${OUT})
  message(FATAL_ERROR "gzip failed")
endif()
