# Test-program helpers. Each test program is one ctest entry (not one per case).

# A test of the portable code; on Linux it runs natively under the sanitizers, on Windows under Wine.
function(quorlane_portable_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE quorlane_portable GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/${name})
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# A Windows test program in a folder of its own, optionally with the test engine (as wke.dll) and
# a copy of quorlane.exe beside it, so that both load the engine a test scripts.
#   quorlane_windows_test(name SOURCES ... [LIBS ...] [WITH_TEST_ENGINE] [WITH_PROGRAM] [GUI])
function(quorlane_windows_test name)
  cmake_parse_arguments(arg "WITH_TEST_ENGINE;WITH_PROGRAM;WITH_CHROMIUM_ENGINE" "" "SOURCES;LIBS" ${ARGN})
  set(dir ${CMAKE_BINARY_DIR}/tests/${name})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main ${arg_LIBS})
  target_compile_options(${name} PRIVATE -fexec-charset=GBK)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  set(copies)
  if(arg_WITH_PROGRAM)
    add_custom_command(OUTPUT ${dir}/quorlane.exe
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:quorlane> ${dir}/quorlane.exe
      DEPENDS quorlane $<TARGET_FILE:quorlane> VERBATIM)
    list(APPEND copies ${dir}/quorlane.exe)
  endif()
  if(arg_WITH_TEST_ENGINE)
    add_custom_command(OUTPUT ${dir}/wke.dll
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:test_wke> ${dir}/wke.dll
      DEPENDS test_wke $<TARGET_FILE:test_wke> VERBATIM)
    list(APPEND copies ${dir}/wke.dll)
  elseif(arg_WITH_CHROMIUM_ENGINE)
    add_custom_command(OUTPUT ${dir}/wke.dll
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:wke_chromium> ${dir}/wke.dll
      DEPENDS wke_chromium $<TARGET_FILE:wke_chromium> VERBATIM)
    list(APPEND copies ${dir}/wke.dll)
  endif()
  if(copies)
    add_custom_target(${name}_files ALL DEPENDS ${copies})
    add_dependencies(${name} ${name}_files)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${dir} TIMEOUT 600)
endfunction()

# A benchmark program (not a test) with the test engine beside it, in build/bench/<name>.
function(quorlane_windows_bench name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  set(dir ${CMAKE_BINARY_DIR}/bench/${name})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS})
  target_compile_options(${name} PRIVATE -fexec-charset=GBK)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  add_custom_command(OUTPUT ${dir}/wke.dll
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:test_wke> ${dir}/wke.dll
    DEPENDS test_wke $<TARGET_FILE:test_wke> VERBATIM)
  add_custom_target(${name}_files ALL DEPENDS ${dir}/wke.dll)
  add_dependencies(${name} ${name}_files)
endfunction()
