# How a test program is built, in one place. Most of a test file's compile
# time is GoogleTest, GoogleMock and Qt's headers, parsed again for every
# file; here they are parsed once per build tree into a precompiled header
# that every test program reuses.
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
#                [NO_DISCOVERY])           only build it; the caller registers its tests
#
# A program whose sources differ in flags that change the headers' meaning
# cannot share the header; none does today. The check is -Winvalid-pch,
# which with ADPANEL_WERROR fails the build instead of silently parsing the
# headers again.
include_guard(GLOBAL)
include(GoogleTest)

find_package(GTest REQUIRED)

# The hosts that own the precompiled headers: executables, so that the
# header is built with the test programs' own -fPIE.
function(_adpanel_pch_host host)
  set(source ${CMAKE_BINARY_DIR}/adpanel_pch/${host}.cpp)
  if(NOT EXISTS ${source})
    file(WRITE ${source} "int main() { return 0; }\n")
  endif()
  add_executable(${host} ${source})
  target_link_libraries(${host} PRIVATE ${ARGN})
  target_compile_options(${host} PRIVATE -Winvalid-pch)
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
  cmake_parse_arguments(PARSE_ARGV 1 arg "QT;NO_DISCOVERY" "MAIN;TEST_PREFIX"
                        "LIBRARIES;DEFINITIONS;DEPENDS;ENVIRONMENT")
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE ${arg_DEFINITIONS})
  target_compile_options(${name} PRIVATE -Winvalid-pch)
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
    target_precompile_headers(${name} REUSE_FROM adpanel_pch_qt)
  else()
    target_precompile_headers(${name} REUSE_FROM adpanel_pch_gtest)
  endif()
  if(arg_DEPENDS)
    add_dependencies(${name} ${arg_DEPENDS})
  endif()
  if(NOT arg_NO_DISCOVERY)
    set(discover_args)
    if(arg_TEST_PREFIX)
      list(APPEND discover_args TEST_PREFIX ${arg_TEST_PREFIX})
    endif()
    if(arg_ENVIRONMENT)
      list(APPEND discover_args PROPERTIES ENVIRONMENT "${arg_ENVIRONMENT}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${discover_args})
  endif()
endfunction()
