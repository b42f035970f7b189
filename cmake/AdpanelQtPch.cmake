# One precompiled header of Qt Widgets for the product's libraries that use
# widgets: Qt's headers are most of such a library's compile time (three
# fifths of the review window's unit under clang), and every library parsed
# them again. Called once at the end of the top CMakeLists.txt, it finds the
# libraries itself, so that a new folder's widget library gets the header
# with nothing to add. Not for the Windows cross-build, which stays as it is.
include_guard(GLOBAL)

function(_adpanel_targets_below dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _adpanel_targets_below(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(adpanel_product_qt_pch)
  if(WIN32 OR NOT ADPANEL_PANEL)
    return()
  endif()
  _adpanel_targets_below(${PROJECT_SOURCE_DIR} targets)
  set(users)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    get_target_property(source_dir ${t} SOURCE_DIR)
    get_target_property(links ${t} LINK_LIBRARIES)
    # Static libraries share the flags (-fPIC) that the header is made with;
    # the test programs have their own header (cmake/AdpanelTest.cmake).
    if(type STREQUAL "STATIC_LIBRARY" AND NOT source_dir MATCHES "/tests(/|$)"
       AND "Qt6::Widgets" IN_LIST links)
      list(APPEND users ${t})
    endif()
  endforeach()
  if(NOT users)
    return()
  endif()
  find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)
  set(source ${CMAKE_BINARY_DIR}/adpanel_pch/adpanel_pch_product.cpp)
  if(NOT EXISTS ${source})
    file(WRITE ${source} "// The host of the product's precompiled header.\n")
  endif()
  add_library(adpanel_pch_product STATIC ${source})
  target_link_libraries(adpanel_pch_product PRIVATE Qt6::Widgets)
  target_precompile_headers(adpanel_pch_product PRIVATE <algorithm> <functional> <memory> <string> <vector>
    <QObject> <QString> <QWidget> <QPainter> <QLabel> <QPushButton> <QTimer> <QApplication>)
  # Clang stamps the header with the time it was made: without the stamp, a
  # header made again is the same file, and ccache finds its users again.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(adpanel_pch_product PRIVATE "SHELL:-Xclang -fno-pch-timestamp")
  endif()
  foreach(t IN LISTS users)
    target_precompile_headers(${t} REUSE_FROM adpanel_pch_product)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      target_compile_options(${t} PRIVATE "SHELL:-Xclang -fno-pch-timestamp")
    endif()
    # A header that cannot be used is said (an error with ADPANEL_WERROR),
    # not parsed again in silence.
    target_compile_options(${t} PRIVATE -Winvalid-pch)
  endforeach()
endfunction()
