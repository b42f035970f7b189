# How a test program is built, in one place, so that a new one gets the same
# cheap build by calling adpanel_test(). Where a test file's compile time
# goes: GoogleTest's and GoogleMock's own instantiations, emitted again in
# every translation unit, then their headers and Qt's, parsed again for every
# file, then code generation for the test bodies. So each program's files
# are compiled as one unit (UNITY_BUILD), the headers are parsed once per
# build tree into a precompiled header that every program reuses, and test
# code is compiled without optimisation in every preset.
#
#   adpanel_test(<name> <source>...
#                [QT]                      the program uses Qt (links Qt6::Widgets and Qt6::Test)
#                [LIBRARIES <target>...]   what it links besides GoogleTest/GoogleMock
#                [DEFINITIONS <def>...]    compile definitions, e.g. LIB="$<TARGET_FILE:adcard>"
#                [DEPENDS <target>...]     targets it needs at run time (libraries it dlopens)
#                [MAIN gtest|gmock|none]   which main to link (default gtest; none: the sources or
#                                          LIBRARIES bring their own)
#                [TEST_PREFIX <prefix>]    prefix for the discovered test names
#                [ENVIRONMENT <var=value>...]
#                [COST <n>]                a CTest COST for each of its tests: a program
#                                          whose tests take long (under the sanitizers) has
#                                          them started first, before any timing is known
#                [NO_DISCOVERY]            only build it; the caller registers its tests
#                [PRESET_OPTIMIZATION])    compile it at the preset's -O level, not -O0 (a test
#                                          whose own loop must keep pace with the card)
#
# A program whose sources differ in flags that change the headers' meaning
# cannot share the header; none does today. The check is -Winvalid-pch,
# which with ADPANEL_WERROR fails the build instead of silently parsing the
# headers again.
include_guard(GLOBAL)
include(GoogleTest)

find_package(GTest REQUIRED)

# Test code itself is compiled at -O0 where the product is optimised:
# GoogleMock's expectations take a fifth longer to compile at -O1 and a
# third longer again at -O2, for no speed that a test needs (the sanitizer
# preset runs every test at -O0 too). Its debug information is line tables (-g1),
# enough for a sanitizer's or a debugger's backtrace with files and lines
# at two thirds of the compile time of full -g; rebuild with
# -DADPANEL_TEST_DEBUG_INFO=-g to step through a test's variables. The
# default preset compiles its test code without any (-g0, a ninth less CPU
# for a test unit under gcc): the same tests run in the sanitizer preset,
# whose reports are the backtraces a failing test needs. The product's
# libraries keep the preset's level and debug information.
set(ADPANEL_TEST_DEBUG_INFO -g1 CACHE STRING "Debug information option for test code")
set(_adpanel_test_options -Winvalid-pch $<$<CONFIG:RelWithDebInfo,Release,MinSizeRel>:-O0>
    $<$<CONFIG:Debug,RelWithDebInfo>:${ADPANEL_TEST_DEBUG_INFO}>)
# Clang stamps a precompiled header with the time it was made, so that no
# two builds of it are alike and a compiler cache never finds the programs
# that use it; without the stamp they are found again.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  list(APPEND _adpanel_test_options "SHELL:-Xclang -fno-pch-timestamp")
endif()

# The hosts that own the precompiled headers: executables, so that the
# header is built with the test programs' own -fPIE.
function(_adpanel_pch_host host)
  set(source ${CMAKE_BINARY_DIR}/adpanel_pch/${host}.cpp)
  if(NOT EXISTS ${source})
    file(WRITE ${source} "int main() { return 0; }\n")
  endif()
  add_executable(${host} ${source})
  target_link_libraries(${host} PRIVATE ${ARGN})
  target_compile_options(${host} PRIVATE ${_adpanel_test_options})
endfunction()

set(_adpanel_std_headers <algorithm> <chrono> <cstdint> <functional> <map> <memory> <set> <string>
    <thread> <vector>)
if(NOT TARGET adpanel_pch_gtest)
  _adpanel_pch_host(adpanel_pch_gtest GTest::gmock)
  target_precompile_headers(adpanel_pch_gtest PRIVATE <gmock/gmock.h> <gtest/gtest.h> ${_adpanel_std_headers})
  if(ADPANEL_PANEL)
    find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets Test)
    # Not Qt6::Test: it defines the folder of each test program
    # (QT_TESTCASE_BUILDDIR), which would make the header differ per folder.
    _adpanel_pch_host(adpanel_pch_qt GTest::gmock Qt6::Widgets)
    target_precompile_headers(adpanel_pch_qt PRIVATE <gmock/gmock.h> <gtest/gtest.h> ${_adpanel_std_headers}
      <QApplication> <QImage> <QLabel> <QPainter> <QPushButton> <QScreen> <QString> <QTimer> <QWidget>)
  endif()
endif()

function(adpanel_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "QT;NO_DISCOVERY;PRESET_OPTIMIZATION" "MAIN;TEST_PREFIX;COST"
                        "LIBRARIES;DEFINITIONS;DEPENDS;ENVIRONMENT")
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
  # All of a program's files in one translation unit: each file alone pays
  # for GoogleTest's and GoogleMock's own instantiations again, which costs
  # more than the header. A file that cannot share (a clashing name in an
  # anonymous namespace) sets SKIP_UNITY_BUILD_INCLUSION.
  set_target_properties(${name} PROPERTIES UNITY_BUILD ${ADPANEL_UNITY} UNITY_BUILD_BATCH_SIZE 0)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE ${arg_DEFINITIONS})
  if(NOT arg_MAIN)
    set(arg_MAIN gtest)
  endif()
  set(main)
  if(arg_MAIN STREQUAL "gtest")
    set(main GTest::gtest_main)
  elseif(arg_MAIN STREQUAL "gmock")
    set(main GTest::gmock_main)
  endif()
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} ${main} GTest::gmock)
  if(arg_QT)
    target_link_libraries(${name} PRIVATE Qt6::Widgets Qt6::Test)
  endif()
  # The shared headers were made with the test options; a program at the
  # preset's level parses its headers itself.
  if(NOT arg_PRESET_OPTIMIZATION)
    target_compile_options(${name} PRIVATE ${_adpanel_test_options})
    if(arg_QT)
      target_precompile_headers(${name} REUSE_FROM adpanel_pch_qt)
    else()
      target_precompile_headers(${name} REUSE_FROM adpanel_pch_gtest)
    endif()
  endif()
  if(arg_DEPENDS)
    add_dependencies(${name} ${arg_DEPENDS})
  endif()
  if(NOT arg_NO_DISCOVERY)
    set(discover_args)
    if(arg_TEST_PREFIX)
      list(APPEND discover_args TEST_PREFIX ${arg_TEST_PREFIX})
    endif()
    if(arg_ENVIRONMENT OR arg_COST)
      list(APPEND discover_args PROPERTIES)
    endif()
    if(arg_ENVIRONMENT)
      list(APPEND discover_args ENVIRONMENT "${arg_ENVIRONMENT}")
    endif()
    if(arg_COST)
      list(APPEND discover_args COST ${arg_COST})
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${discover_args})
  endif()
endfunction()

# A test that opens real windows: <program> run on a virtual X server by
# xvfb-run, registered as <test>. Where xvfb-run is missing the test fails
# and says which package brings it.
#
#   adpanel_xvfb_test(<test> <program> [<screen> [<argument>...]])
function(adpanel_xvfb_test test program)
  # An optional third argument: the screen's size, 1280x1024 unless given;
  # any further ones go to the program.
  set(screen 1280x1024)
  set(arguments ${ARGN})
  if(ARGC GREATER 2)
    set(screen ${ARGV2})
    list(POP_FRONT arguments)
  endif()
  if(ADPANEL_XVFB_RUN)
    add_test(NAME ${test}
      COMMAND ${ADPANEL_XVFB_RUN} -a -s "-screen 0 ${screen}x24 -dpi 96" $<TARGET_FILE:${program}> ${arguments})
  else()
    add_test(NAME ${test}
      COMMAND sh -c "echo '${test} needs xvfb-run (Debian package xvfb) to open windows on a virtual X server' >&2; exit 1")
  endif()
  set_tests_properties(${test} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=xcb;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/panel/lsan_system.supp:print_suppressions=0")
endfunction()

# The same for a program of several tests that take long: each of its tests
# registered on its own as <prefix>.<Suite>.<Test>, on a virtual X server of
# its own, so that CTest runs them side by side instead of one after another
# in a single process. Each test must keep its files in a folder of its own.
#
#   adpanel_xvfb_test_each(<prefix> <program> [<screen>] [COST <n>])
function(adpanel_xvfb_test_each prefix program)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "COST" "")
  set(screen 1280x1024)
  if(arg_UNPARSED_ARGUMENTS)
    list(GET arg_UNPARSED_ARGUMENTS 0 screen)
  endif()
  set(properties)
  if(arg_COST)
    set(properties PROPERTIES COST ${arg_COST})
  endif()
  # Discovery and every test go through the wrapper, which starts the X
  # server for a test and not for the listing.
  set_property(TARGET ${program} PROPERTY CROSSCOMPILING_EMULATOR
    sh ${PROJECT_SOURCE_DIR}/tests/support/xvfb_run.sh ${screen}
    ${PROJECT_SOURCE_DIR}/tests/panel/lsan_system.supp)
  gtest_discover_tests(${program} DISCOVERY_TIMEOUT 60 TEST_PREFIX ${prefix}. ${properties})
endfunction()
