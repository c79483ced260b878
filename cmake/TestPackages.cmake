# The test programs and benchmarks need packages that building and running
# Clipvane does not: GoogleTest (with GoogleMock) and cpp-httplib, the test-only
# packages of TEST_PKGS in scripts/install-deps.sh. CLIPVANE_BUILD_TESTS:
#   AUTO  (the default) builds them when those packages are installed, and
#         otherwise says in one line which are missing, so that a machine with
#         only the build and run packages builds the program;
#   ON    requires them (scripts/test.sh);
#   OFF   leaves them out.
# Sets CLIPVANE_TESTS to whether the tests are built.
set(CLIPVANE_BUILD_TESTS AUTO CACHE STRING
    "Build the test programs and benchmarks: AUTO (when their packages are installed), ON or OFF")
set_property(CACHE CLIPVANE_BUILD_TESTS PROPERTY STRINGS AUTO ON OFF)

set(CLIPVANE_TESTS OFF)
if(NOT CLIPVANE_BUILD_TESTS STREQUAL "AUTO" AND NOT CLIPVANE_BUILD_TESTS)
    return()
endif()

find_package(GTest QUIET)
pkg_check_modules(CLIPVANE_HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
set(clipvane_missing_test_packages "")
if(NOT TARGET GTest::gtest)
    list(APPEND clipvane_missing_test_packages "libgtest-dev (GTest)")
endif()
if(NOT TARGET GTest::gmock)
    list(APPEND clipvane_missing_test_packages "libgmock-dev (GTest::gmock)")
endif()
if(NOT CLIPVANE_HTTPLIB_FOUND)
    list(APPEND clipvane_missing_test_packages "libcpp-httplib-dev (cpp-httplib)")
endif()

if(clipvane_missing_test_packages)
    list(JOIN clipvane_missing_test_packages ", " clipvane_missing_test_packages)
    string(CONCAT clipvane_tests_message "the tests need ${clipvane_missing_test_packages}; "
                  "bash scripts/install-deps.sh --test installs them")
    if(CLIPVANE_BUILD_TESTS STREQUAL "AUTO")
        message(STATUS "Tests and benchmarks not built: ${clipvane_tests_message}")
        return()
    endif()
    message(FATAL_ERROR "CLIPVANE_BUILD_TESTS=${CLIPVANE_BUILD_TESTS}, but ${clipvane_tests_message}")
endif()
set(CLIPVANE_TESTS ON)
