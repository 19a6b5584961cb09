# The user scripts in tools/ (plot-run, refine, bench-table), tested with Debian's Python and
# its numpy and matplotlib packages on real runs of the program built here.
add_test(NAME tools
         COMMAND /usr/bin/python3 -m unittest discover -s ${CMAKE_CURRENT_SOURCE_DIR}/tools -v)
set(LADYZH_TOOLS_TEST_ENV
    "LADYZH_EXE=$<TARGET_FILE:ladyzh>"
    "LADYZH_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    "PYTHONDONTWRITEBYTECODE=1")
set_tests_properties(tools PROPERTIES ENVIRONMENT "${LADYZH_TOOLS_TEST_ENV}" TIMEOUT 900)
