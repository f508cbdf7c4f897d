# kiv_add_test(NAME SOURCES ... LIBS ... [WINDOW] [WIN32_ONLY] [PTY])
# A GoogleTest program. WINDOW marks a program that shows windows: focus,
# keyboard and clipboard are shared by everything on the test display, so such
# programs never run at the same time as each other. PTY marks a Windows
# program that opens COM ports mapped to pseudo-terminals: its Wine process
# (and only its) loads the pseudo-terminal preload library, which logs the
# line settings and modem lines to the file in KIV_PTY_LOG. Natively each test case is its own CTest test. Under
# the Windows build the whole program is one CTest test run through Wine in the
# project's prefix, after the fixture that starts Wine's services (discovery
# would start Wine before that fixture and hang CTest on its inherited pipes).
function(kiv_add_test name)
  cmake_parse_arguments(T "WINDOW;WIN32_ONLY;PTY" "" "SOURCES;LIBS" ${ARGN})
  if(KIV_FUZZ OR (T_WIN32_ONLY AND NOT WIN32))
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600)
    if(T_WINDOW)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_display)
    endif()
    if(T_PTY)
      kiv_use_pty_shim(${name})
    endif()
    kiv_mark_wine_rerun(${name} ${T_SOURCES})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# A program one of whose sources holds a line "// wine-rerun: REASON" may
# fail for a fault of Wine's that the project cannot mend: test-all.sh runs
# it (and only it) a second time when it fails and reports it as flaky.
function(kiv_mark_wine_rerun name)
  foreach(src ${ARGN})
    file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/${src} marks REGEX "^// wine-rerun: .+")
    if(marks)
      set_property(TEST ${name} APPEND PROPERTY LABELS wine_rerun)
      return()
    endif()
  endforeach()
endfunction()

# The environment of a test whose Wine process drives pseudo-terminals:
# wine-run.sh turns KIV_PRELOAD into LD_PRELOAD after the fixture has started
# the wineserver; each program logs to a file of its own.
function(kiv_use_pty_shim name)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
               "KIV_PRELOAD=${KIV_PTY_PRELOAD}"
               "KIV_PTY_LOG=${CMAKE_BINARY_DIR}/pty-logs/${name}.log")
  add_dependencies(${name} kivpty kivsim)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/pty-logs)
endfunction()

# A second run of a Windows test program under a Western locale (code page
# 1252), restricted to the tests whose names match FILTER.
function(kiv_add_western_locale_run name filter)
  if(WIN32 AND TARGET ${name})
    add_test(NAME ${name}_western COMMAND ${name} --gtest_filter=${filter})
    get_test_property(${name} ENVIRONMENT env)
    if(NOT env)
      set(env "")
    endif()
    set_tests_properties(${name}_western PROPERTIES FIXTURES_REQUIRED wine
                         ENVIRONMENT "${env};KIV_WINE_LANG=en_US.UTF-8" TIMEOUT 600)
    get_test_property(${name} RESOURCE_LOCK lock)
    if(lock)
      set_tests_properties(${name}_western PROPERTIES RESOURCE_LOCK ${lock})
    endif()
  endif()
endfunction()

if(WIN32)
  # The Wine scripts give the build tree a prefix of the DLLs' own bitness.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    file(WRITE ${CMAKE_BINARY_DIR}/wine.arch "win64\n")
  else()
    file(WRITE ${CMAKE_BINARY_DIR}/wine.arch "win32\n")
  endif()
  set(KIV_WINE_ENV ${CMAKE_SOURCE_DIR}/scripts/wine-env.sh)
  add_test(NAME wine_start COMMAND ${KIV_WINE_ENV} start ${CMAKE_BINARY_DIR})
  add_test(NAME wine_stop COMMAND ${KIV_WINE_ENV} stop ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
endif()
