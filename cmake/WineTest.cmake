# Registers a test program. Native builds run it directly; Windows builds run it
# under Wine through tools/wine-run.sh, inside the shared session that the "wine"
# fixture starts (one Xvfb display and one prefix for the whole build tree).
set(QUORVEL_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(QUORVEL_TEST_TIMEOUT 120 CACHE STRING "Seconds any one test may run")

if(WIN32 AND NOT TEST wine.session.start)
  add_test(NAME wine.session.start
           COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-session.sh start ${QUORVEL_WINE_DIR})
  add_test(NAME wine.session.stop
           COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-session.sh stop ${QUORVEL_WINE_DIR})
  set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endif()

# quorvel_add_test(<name> <target> [ARGS ...] [TIMEOUT s] [ENVIRONMENT ...] [LABELS ...])
function(quorvel_add_test name target)
  cmake_parse_arguments(T "" "TIMEOUT" "ARGS;ENVIRONMENT;LABELS;FIXTURES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT ${QUORVEL_TEST_TIMEOUT})
  endif()
  if(WIN32)
    add_test(NAME ${name}
             COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-run.sh $<TARGET_FILE:${target}> ${T_ARGS})
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED "wine;${T_FIXTURES}"
      ENVIRONMENT "QUORVEL_WINE_DIR=${QUORVEL_WINE_DIR};QUORVEL_TEST_TIMEOUT=${T_TIMEOUT};${T_ENVIRONMENT}")
  else()
    add_test(NAME ${name} COMMAND ${target} ${T_ARGS})
    if(T_FIXTURES)
      set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
    endif()
    if(T_ENVIRONMENT)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
  endif()
  # ctest's own limit sits above the runner's, so a hang is reported by the runner.
  math(EXPR outer "${T_TIMEOUT} + 30")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${outer})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# A GoogleTest program: one executable, one ctest entry.
function(quorvel_add_gtest name)
  cmake_parse_arguments(G "" "TIMEOUT" "SOURCES;LIBRARIES;ENVIRONMENT;LABELS;FIXTURES" ${ARGN})
  add_executable(${name} ${G_SOURCES})
  quorvel_warnings(${name})
  target_link_libraries(${name} PRIVATE ${G_LIBRARIES} GTest::gmock GTest::gtest_main)
  set(extra)
  if(G_TIMEOUT)
    list(APPEND extra TIMEOUT ${G_TIMEOUT})
  endif()
  quorvel_add_test(${name} ${name} ARGS --gtest_color=no ${extra}
                   ENVIRONMENT ${G_ENVIRONMENT} LABELS ${G_LABELS} FIXTURES ${G_FIXTURES})
endfunction()
