# Turns the tests of one GoogleTest program into ctest tests, one per test suite: each
# suite runs in one process (--gtest_filter=Suite.*), so that starting the process, the
# sanitizers and the embedded database engine, and a suite's SetUpTestSuite, are paid
# once per suite instead of once per test. GoogleTest's own output still names every
# test that runs and every test that fails.
#
# Run by ctest before the tests (the program lists its tests with --gtest_list_tests,
# so a new test or suite needs no edit anywhere), with these variables set:
#   TEST_EXECUTABLE   the program
#   TEST_PREFIX       put before every ctest name (two programs may hold suites of the
#                     same name; a ctest name must be unique)
#   TESTS_FILE        the file of add_test() calls written here and included by ctest
#   TEST_LABEL        the ctest label of every test of the program
#   TEST_ENVIRONMENT  the ENVIRONMENT property (a list)
#   OWN_PROCESS       suites whose tests each need a process of their own (regular
#                     expressions, matched against the whole suite name)
#   TIMEOUT_BASE, TIMEOUT_PER_TEST
#                     a group's time-out: the base plus this much per test of it
#   DISCOVERY_TIMEOUT seconds the listing may take

function(pelvar_quote out value)
  # A bracket argument that no test name can end early.
  set(${out} "[==[${value}]==]" PARENT_SCOPE)
endfunction()

execute_process(
  COMMAND "${TEST_EXECUTABLE}" --gtest_list_tests
  OUTPUT_VARIABLE listing
  ERROR_VARIABLE listing_err
  RESULT_VARIABLE listing_rc
  TIMEOUT ${DISCOVERY_TIMEOUT})
if(NOT listing_rc EQUAL 0)
  message(FATAL_ERROR "Listing the tests of ${TEST_EXECUTABLE} failed (${listing_rc}):\n${listing}\n${listing_err}")
endif()

# The listing: "Suite." lines (a typed suite adds "  # TypeParam = ..."), then
# "  Test" lines (a value-parameterised test adds "  # GetParam() = ...").
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(suites "")
set(suite "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
    set(suite "${CMAKE_MATCH_1}")
    list(APPEND suites "${suite}")
    set(tests_of_${suite} "")
  elseif(suite AND line MATCHES "^  ([^ ]+)")
    list(APPEND tests_of_${suite} "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(script "# Written by test_groups.cmake from the listing of ${TEST_EXECUTABLE}\n")
pelvar_quote(exe "${TEST_EXECUTABLE}")
pelvar_quote(env "${TEST_ENVIRONMENT}")
foreach(suite IN LISTS suites)
  if(suite MATCHES "^DISABLED_" OR NOT tests_of_${suite})
    continue()
  endif()
  set(alone FALSE)
  foreach(pattern IN LISTS OWN_PROCESS)
    if(suite MATCHES "^(${pattern})$")
      set(alone TRUE)
    endif()
  endforeach()
  if(alone)
    set(groups "")
    foreach(test IN LISTS tests_of_${suite})
      if(NOT test MATCHES "^DISABLED_")
        list(APPEND groups "${suite}.${test}")
      endif()
    endforeach()
  else()
    set(groups "${suite}.*")
  endif()
  list(LENGTH tests_of_${suite} count)
  foreach(group IN LISTS groups)
    if(alone)
      set(count 1)
    endif()
    math(EXPR timeout "${TIMEOUT_BASE} + ${TIMEOUT_PER_TEST} * ${count}")
    pelvar_quote(name "${TEST_PREFIX}${group}")
    pelvar_quote(filter "--gtest_filter=${group}")
    string(APPEND script
      "add_test(${name} ${exe} ${filter})\n"
      "set_tests_properties(${name} PROPERTIES LABELS ${TEST_LABEL} TIMEOUT ${timeout} ENVIRONMENT ${env})\n")
  endforeach()
endforeach()
file(WRITE "${TESTS_FILE}" "${script}")
