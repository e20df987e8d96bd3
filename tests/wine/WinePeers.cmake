# pdt_add_wine_peer_test(NAME SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s]
#                        PEERS <with-peers.sh options> [ENVIRONMENT VAR=VALUE ...])
# A Windows test program that talks to native peers on COM ports: builds it like
# pdt_add_test and registers it through tests/wine/with-peers.sh, which starts
# the peers on ptys mapped to the COM ports, runs the program under Wine and
# stops the peers. PEERS holds with-peers.sh's options, for example
#   PEERS --com 3 echo --com 4 "/path/to/pdt simulate --csv x.csv" --missing 9
# Tests that share a COM number wait for each other (with-peers.sh locks it).
function(pdt_add_wine_peer_test name)
  cmake_parse_arguments(W "" "TIMEOUT" "SOURCES;LIBS;LABELS;PEERS;ENVIRONMENT" ${ARGN})
  if(NOT W_TIMEOUT)
    set(W_TIMEOUT 300)
  endif()
  # Built like pdt_add_test's programs; registered with a script as its command,
  # which CTest runs without the emulator, so with-peers.sh starts Wine itself.
  add_executable(${name} ${W_SOURCES} ${W_UNPARSED_ARGUMENTS})
  target_compile_options(${name} PRIVATE ${PDT_WARNINGS})
  target_link_libraries(${name} PRIVATE ${W_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${name}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/with-peers.sh ${W_PEERS}
            -- $<TARGET_FILE:${name}> --gtest_color=no)
  # 77: the Wine runner cannot run this architecture on this machine.
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${W_TIMEOUT} SKIP_RETURN_CODE 77 ENVIRONMENT "${W_ENVIRONMENT}")
  if(W_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${W_LABELS}")
  endif()
endfunction()
