# Installs the panel component into a scratch prefix and checks what lands
# there: the program without a driver dependency or search path, the desktop
# entry, the font's licence, and the launcher putting <prefix>/<libdir>/adcard-sim first.
# Needs -DBUILD_DIR, -DWORK_DIR, -DLIBDIR, -DBINDIR, -DBUILT_PANEL.
cmake_minimum_required(VERSION 3.25)

function(fail msg)
  message(FATAL_ERROR "${msg}")
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component panel --prefix ${prefix}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("cmake --install of the panel component failed")
endif()

set(bin ${prefix}/${BINDIR})
foreach(f ${bin}/adcard-panel ${bin}/adcard-panel-sim)
  execute_process(COMMAND test -x ${f} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    fail("${f} is missing or not executable")
  endif()
endforeach()

file(GLOB recorder ${prefix}/${LIBDIR}/adcard-panel/libadcard_recorder.so)
if(NOT recorder)
  fail("the recorder module ${LIBDIR}/adcard-panel/libadcard_recorder.so is not installed")
endif()
if(NOT EXISTS ${prefix}/include/adcard.h)
  fail("the driver contract's header include/adcard.h is not installed")
endif()

file(READ ${prefix}/share/applications/adcard-panel.desktop desktop)
foreach(line "[Desktop Entry]" "Type=Application" "Exec=adcard-panel"
             "Name[zh_CN]=多缓冲区采集方式")
  string(FIND "\n${desktop}" "\n${line}\n" at)
  if(at EQUAL -1)
    fail("desktop entry lacks the line ${line}")
  endif()
endforeach()
string(FIND "${desktop}" "\nCategories=Science;Engineering;\n" at)
if(at EQUAL -1)
  fail("desktop entry lacks Categories=Science;Engineering;")
endif()
if(NOT desktop MATCHES "\nName=[^\n]")
  fail("desktop entry has no Name")
endif()

# The bundled font's licence goes with the program.
set(font_licence ${prefix}/share/doc/adcard-panel/font-LICENSE)
if(NOT EXISTS ${font_licence})
  fail("${font_licence} is missing")
endif()
file(READ ${font_licence} licence)
if(NOT licence MATCHES "SIL OPEN FONT LICENSE Version 1\\.1" OR NOT licence MATCHES "Reserved Font Name 'Source'")
  fail("${font_licence} lacks the OFL 1.1 text or the Reserved Font Name")
endif()

# Neither the installed nor the built program may need the driver library
# or carry a search path to the simulated card.
foreach(exe ${bin}/adcard-panel ${BUILT_PANEL})
  execute_process(COMMAND readelf -d ${exe} OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    fail("readelf -d ${exe} failed")
  endif()
  if(dyn MATCHES "libadcard\\.so")
    fail("${exe} links the driver library")
  endif()
  if(dyn MATCHES "(RPATH|RUNPATH)[^\n]*(simcard|adcard-sim)")
    fail("${exe} has a library search path to the simulated card")
  endif()
endforeach()

# The launcher, run through a symbolic link from elsewhere, in front of a
# stand-in program that prints its library path.
file(WRITE ${bin}/adcard-panel "#!/bin/sh\nprintf '%s' \"$LD_LIBRARY_PATH\"\n")
file(CREATE_LINK ${bin}/adcard-panel-sim ${WORK_DIR}/linked-sim SYMBOLIC)
file(REAL_PATH ${prefix}/${LIBDIR}/adcard-sim simdir)
foreach(env "LD_LIBRARY_PATH=/opt/x" "--unset=LD_LIBRARY_PATH")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} ${WORK_DIR}/linked-sim OUTPUT_VARIABLE out)
  # An empty entry (a stray ':') would search the current folder.
  string(REGEX MATCH "^[^:]*" first "${out}")
  string(REGEX MATCH ":.*$" rest "${out}")
  file(REAL_PATH "${first}" first)
  set(want_rest "")
  if(env MATCHES "=/opt/x$")
    set(want_rest ":/opt/x")
  endif()
  if(NOT first STREQUAL simdir OR NOT "${rest}" STREQUAL want_rest)
    fail("launcher with ${env}: LD_LIBRARY_PATH was '${out}', wanted ${simdir} then '${want_rest}'")
  endif()
endforeach()
