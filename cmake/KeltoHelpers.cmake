# A plug-in library binds its own symbols: when a host has one plug-in loaded and dlopens
# another (a copy of ours, or a test plug-in), the second one's factories must register in
# its own registry and its entry points must read that registry, not the first library's.
function(kelto_plugin_link_options target)
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic -Wl,--no-undefined)
  set_target_properties(${target} PROPERTIES BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
endfunction()

# kelto_add_test(name SOURCES a.cpp ... [LIBS ...] [LABELS ...])
# A GoogleTest executable registered with CTest. Tests link the library's objects directly
# (kelto_core and kelto_lib), so they can reach internals that the shared library hides.
function(kelto_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    KELTO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KELTO_CORPUS_DIR="${PROJECT_SOURCE_DIR}/tests/corpus"
    KELTO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 600)
endfunction()

# kelto_add_fuzzer(name SOURCE harness.cpp SEEDS dir [LIBS ...])
# The harness defines LLVMFuzzerTestOneInput. With KELTO_FUZZ it links libFuzzer's main;
# in every build it is also linked with a small driver that runs each seed file once,
# registered as an ordinary test, so the seeds keep passing between fuzzing runs.
function(kelto_add_fuzzer name)
  cmake_parse_arguments(F "" "SOURCE;SEEDS" "LIBS" ${ARGN})
  add_executable(${name}_seeds ${F_SOURCE} ${PROJECT_SOURCE_DIR}/fuzz/seed_driver.cpp)
  target_link_libraries(${name}_seeds PRIVATE ${F_LIBS})
  target_include_directories(${name}_seeds PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/fuzz)
  add_test(NAME fuzz_seeds_${name} COMMAND ${name}_seeds ${F_SEEDS})
  set_tests_properties(fuzz_seeds_${name} PROPERTIES LABELS "fuzz" TIMEOUT 900)
  if(KELTO_FUZZ)
    add_executable(${name} ${F_SOURCE})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/fuzz)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()
