# Host build: the logic against the simulated Windows, with the unit tests.
enable_testing()
find_package(GTest REQUIRED)

set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -g ${SANITIZERS})
add_link_options(${SANITIZERS})

# libFuzzer targets (clang only, the "fuzz" preset): everything is built
# with the fuzzer's coverage, and tests/fuzz adds one executable a target.
option(FUZZ "Build the libFuzzer targets of tests/fuzz" OFF)
if(FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

file(GLOB SIM_SOURCES CONFIGURE_DEPENDS tests/simwin/*.cpp)
add_library(simwin STATIC ${SIM_SOURCES})
target_compile_definitions(simwin PRIVATE STRINGS_RC="${CMAKE_SOURCE_DIR}/res/strings.rc"
  MANIFEST_SOURCE="${CMAKE_SOURCE_DIR}/res/manifest/updater.manifest")

add_library(logic STATIC ${LOGIC_SOURCES})
target_include_directories(logic PUBLIC src)
target_link_libraries(logic PUBLIC simwin)
# The logic includes "win32_api.h" through platform.h; tests name the
# machine as "simwin/machine.h".
target_include_directories(simwin PUBLIC src tests tests/simwin)

file(GLOB_RECURSE TEST_SOURCES CONFIGURE_DEPENDS tests/*_test.cpp)
# The behaviour checks of the simulated Windows, which also build for
# Windows (tests/behaviour/wine runs them under Wine).
file(GLOB BEHAVIOUR_SOURCES CONFIGURE_DEPENDS tests/behaviour/*_checks.cpp)
add_executable(unit_tests ${TEST_SOURCES} ${BEHAVIOUR_SOURCES} tests/behaviour/check.cpp tests/behaviour/setup_sim.cpp)
target_include_directories(unit_tests PRIVATE tests)
target_link_libraries(unit_tests PRIVATE logic GTest::gtest_main)
target_compile_definitions(unit_tests PRIVATE VERSION_ORDER_CASES="${CMAKE_SOURCE_DIR}/tests/update/version_order_cases.txt")
include(GoogleTest)
gtest_discover_tests(unit_tests)

if(FUZZ)
  add_subdirectory(tests/fuzz)
endif()
