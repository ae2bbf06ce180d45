# The Debian package: built with cpack from this build, its file list and
# dependencies read with dpkg-deb, checked by lintian, then unpacked into a
# folder of its own, where its program runs its demonstration and finds its
# help page beside itself.
set(work ${BUILD_DIR}/package-test)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})

execute_process(COMMAND ${CPACK} -G DEB -B ${work} --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB debs ${work}/vemra2_*_*.deb)
list(LENGTH debs count)
if(NOT status EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made no package (${status}):\n${out}")
endif()
list(GET debs 0 deb)
get_filename_component(name ${deb} NAME)
if(NOT name MATCHES "^vemra2_${VERSION}_[a-z0-9]+\\.deb$")
  message(FATAL_ERROR "the package is named ${name}")
endif()

execute_process(COMMAND dpkg-deb -c ${deb} OUTPUT_VARIABLE files COMMAND_ERROR_IS_FATAL ANY)
foreach(path usr/bin/vemra2 usr/share/doc/vemra2/index.html usr/share/doc/vemra2/copyright
             usr/share/doc/vemra2/changelog.gz usr/share/man/man1/vemra2.1.gz
             usr/share/applications/org.example.Vemra2.desktop
             usr/share/metainfo/org.example.Vemra2.metainfo.xml
             usr/share/icons/hicolor/scalable/apps/org.example.Vemra2.svg
             usr/share/icons/hicolor/16x16/apps/org.example.Vemra2.png
             usr/share/icons/hicolor/256x256/apps/org.example.Vemra2.png)
  string(FIND "${files}" " ./${path}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the package lacks ${path}:\n${files}")
  endif()
endforeach()

execute_process(COMMAND dpkg-deb -f ${deb} Depends OUTPUT_VARIABLE depends
                COMMAND_ERROR_IS_FATAL ANY)
foreach(library libportaudio2 libpulse0 libasound2 libqt6widgets6 libqt6gui6 libc6)
  if(NOT depends MATCHES "(^|, )${library} \\(>= ")
    message(FATAL_ERROR "the package does not depend on ${library}: ${depends}")
  endif()
endforeach()

# Everything lintian says, down to its pedantic notes: no error, no warning,
# and nothing about the program's hardening.
if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} -I --pedantic --fail-on error,warning ${deb}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "lintian: ${out}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lintian finds errors or warnings:\n${out}${err}")
  endif()
  if(out MATCHES "hardening-")
    message(FATAL_ERROR "lintian finds the program not hardened:\n${out}")
  endif()
endif()

set(root ${work}/root)
execute_process(COMMAND dpkg-deb -x ${deb} ${root} COMMAND_ERROR_IS_FATAL ANY)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          VEMRA_SELFTEST_SCREENSHOT=${work}/picture.png VEMRA_SELFTEST_SECONDS=1
          ${root}/usr/bin/vemra2
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the unpacked program ended with ${status}:\n${out}")
endif()
file(READ ${root}/usr/share/metainfo/org.example.Vemra2.metainfo.xml metainfo)
if(NOT metainfo MATCHES "<release version=\"${VERSION}\" date=\"${RELEASE_DATE}\"/>")
  message(FATAL_ERROR "the metadata does not name release ${VERSION} of ${RELEASE_DATE}")
endif()
if(NOT out MATCHES "Help page: ${root}/usr/share/doc/vemra2/index.html")
  message(FATAL_ERROR "the unpacked program did not find its help page:\n${out}")
endif()
file(SIZE ${work}/picture.png size)
if(size LESS 1000)
  message(FATAL_ERROR "the unpacked program saved no picture")
endif()
file(REMOVE_RECURSE ${work})
