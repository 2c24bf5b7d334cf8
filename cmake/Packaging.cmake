# Installed layout and the Debian packages (cpack -G DEB, one per component),
# split as Debian splits a C library and its programs:
#   lib      -> libnsfmend0 (Multi-Arch: same): libnsfmend.so.0 in the
#               architecture's library folder, with symbols, shlibs and an
#               ldconfig trigger in its control area.
#   dev      -> libnsfmend-dev (Multi-Arch: same): the header, the .so link
#               and the pkg-config file in the architecture's folder.
#   program  -> nsfmend: bin/nsfmend, its manual page and the user's guide.
#   emulator -> nsfmend-emulator: our libnotes.so in a private folder under
#               the library folder, where the loader never finds it on its
#               own, so a server's real libnotes.so is never shadowed;
#               bin/notesemu and its manual page.
# Every package carries the machine-readable copyright file and the Debian
# changelog made from CHANGELOG.md. Packages are made from a build
# configured for the /usr prefix (make package); there GNUInstallDirs gives
# the multiarch library folder, lib/x86_64-linux-gnu or lib/i386-linux-gnu.
include(GNUInstallDirs)
include(${PROJECT_SOURCE_DIR}/cmake/DebianChangelog.cmake)

set(NSFMEND_MAINTAINER "nsfmend maintainers <maintainers@nsfmend.example>" CACHE STRING
    "Maintainer field and changelog signature of the Debian packages: whoever builds and ships them")

set(NSFMEND_SHIPPED nsfmend)
if(TARGET nsfmend_agentlib)
  list(APPEND NSFMEND_SHIPPED nsfmend_agentlib)
endif()
if(NOT NOTES_LIBDIR)
  list(APPEND NSFMEND_SHIPPED notes notesemu)
endif()

# Off by default: measured on a glibc 2.36 build machine, the shared runtime
# asks for glibc 2.34 (and GCC 5.2's libstdc++ in a release build), while a
# linked-in libstdc++.a, built against 2.36 (arc4random, _dl_find_object),
# raises the floor to 2.36. It pays off only when a newer compiler builds on
# a system as old as the oldest server.
option(NSFMEND_STATIC_CXX_RUNTIME "Link libstdc++ and libgcc into the shipped binaries" OFF)
if(NSFMEND_STATIC_CXX_RUNTIME)
  if(NSFMEND_SANITIZE OR NSFMEND_FUZZ)
    message(FATAL_ERROR "NSFMEND_STATIC_CXX_RUNTIME: the sanitizer runtimes need the shared libstdc++")
  endif()
  foreach(target ${NSFMEND_SHIPPED})
    # The version scripts keep the linked-in runtime's names local, so it
    # never meets the shared libstdc++ a server's own libnotes.so brings.
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endforeach()
endif()

# No RUNPATH into the build tree or the emulator: installed, nsfmend finds
# the server's libnotes.so through the loader's normal search only.
set_target_properties(${NSFMEND_SHIPPED} PROPERTIES INSTALL_RPATH "")

# Component -> package name.
set(NSFMEND_COMPONENTS program)
set(NSFMEND_PACKAGE_program nsfmend)
if(TARGET nsfmend_agentlib)
  get_target_property(soversion nsfmend_agentlib SOVERSION)
  list(APPEND NSFMEND_COMPONENTS lib dev)
  set(NSFMEND_PACKAGE_lib libnsfmend${soversion})
  set(NSFMEND_PACKAGE_dev libnsfmend-dev)
endif()
if(NOT NOTES_LIBDIR)
  list(APPEND NSFMEND_COMPONENTS emulator)
  set(NSFMEND_PACKAGE_emulator nsfmend-emulator)
endif()

set(NSFMEND_PKG_DIR ${PROJECT_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${NSFMEND_PKG_DIR}/copyright @ONLY)
nsfmend_debian_changelog(${NSFMEND_PKG_DIR}/changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                         nsfmend ${PROJECT_VERSION} "${NSFMEND_MAINTAINER}")

# gzip -9n, as policy asks of manual pages, changelogs and long documents:
# best compression, and no name or time stamp, so the files that Multi-Arch:
# same packages share are the same bytes in every architecture.
find_program(NSFMEND_GZIP gzip REQUIRED)
set(NSFMEND_GZIPPED "")
function(nsfmend_gzip out source)
  get_filename_component(name ${source} NAME)
  set(plain ${NSFMEND_PKG_DIR}/gz/${name})
  add_custom_command(OUTPUT ${plain}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${NSFMEND_GZIP} -9nf ${plain}
    DEPENDS ${source} VERBATIM)
  set(NSFMEND_GZIPPED ${NSFMEND_GZIPPED} ${plain}.gz PARENT_SCOPE)
  set(${out} ${plain}.gz PARENT_SCOPE)
endfunction()

nsfmend_gzip(changelog_gz ${NSFMEND_PKG_DIR}/changelog)
foreach(component ${NSFMEND_COMPONENTS})
  install(FILES ${NSFMEND_PKG_DIR}/copyright ${changelog_gz}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${NSFMEND_PACKAGE_${component}}
          COMPONENT ${component})
endforeach()

install(TARGETS nsfmend RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
nsfmend_gzip(page ${PROJECT_SOURCE_DIR}/docs/nsfmend.1)
install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
nsfmend_gzip(guide ${PROJECT_SOURCE_DIR}/docs/user-guide.md)
install(FILES ${guide} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/nsfmend COMPONENT program)

set(NSFMEND_EMULATOR_LIBDIR ${CMAKE_INSTALL_LIBDIR}/nsfmend-emulator)
if(NOT NOTES_LIBDIR)
  install(TARGETS notes LIBRARY DESTINATION ${NSFMEND_EMULATOR_LIBDIR} COMPONENT emulator)
  install(TARGETS notesemu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT emulator)
  nsfmend_gzip(page ${PROJECT_SOURCE_DIR}/docs/notesemu.1)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT emulator)
  nsfmend_gzip(emulator_md ${PROJECT_SOURCE_DIR}/docs/emulator.md)
  nsfmend_gzip(runtime_md ${PROJECT_SOURCE_DIR}/docs/emulator-runtime.md)
  install(FILES ${emulator_md} ${runtime_md}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/nsfmend-emulator COMPONENT emulator)
endif()
add_custom_target(nsfmend_package_files ALL DEPENDS ${NSFMEND_GZIPPED})

# Debian architecture of what was built, not of the build machine: the -m32
# build on an amd64 machine makes i386 packages.
if(NSFMEND_32BIT)
  set(NSFMEND_DEB_ARCH i386)
else()
  set(NSFMEND_DEB_ARCH amd64)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nsfmend)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${NSFMEND_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${NSFMEND_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${NSFMEND_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
foreach(component ${NSFMEND_COMPONENTS})
  string(TOUPPER ${component} c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${NSFMEND_PACKAGE_${component}})
  set(CPACK_DEBIAN_${c}_PACKAGE_SOURCE nsfmend)
endforeach()

set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION
  "media recovery of server databases from archived transaction logs
nsfmend rolls database files restored from a backup forward through the
server's archived transaction-log extents, to a cut-off time or to the
latest transaction, and can put a recovered file in place of a live
database. After a full disaster restore it recovers every logged database
of the data directory. It uses the server's own libnotes.so, found by the
loader.")

if(TARGET nsfmend_agentlib)
  # This CPack writes no Multi-Arch field of its own; the line rides on the
  # Section field's value (the package test reads it back).
  set(CPACK_DEBIAN_LIB_PACKAGE_SECTION "libs\nMulti-Arch: same")
  configure_file(${PROJECT_SOURCE_DIR}/src/agent/libnsfmend${soversion}.symbols
                 ${NSFMEND_PKG_DIR}/lib/symbols COPYONLY)
  file(WRITE ${NSFMEND_PKG_DIR}/lib/shlibs
       "libnsfmend ${soversion} ${NSFMEND_PACKAGE_lib} (>= ${PROJECT_VERSION})\n")
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${NSFMEND_PKG_DIR}/lib/symbols
      ${NSFMEND_PKG_DIR}/lib/shlibs ${PROJECT_SOURCE_DIR}/packaging/triggers)
  set(CPACK_COMPONENT_LIB_DESCRIPTION
    "backup-agent operations of nsfmend (shared library)
A backup agent running on the server machine uses this library to archive
the server's transaction-log extents into a folder of its own, capture the
extents still being filled, restore a backup file over a live database,
roll a backup file forward through the logs and ask the logging style.
Every operation reports through a status string in the caller's buffer.")

  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION "libdevel\nMulti-Arch: same")
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${NSFMEND_PACKAGE_lib} (= ${PROJECT_VERSION})")
  set(CPACK_COMPONENT_DEV_DESCRIPTION
    "backup-agent operations of nsfmend (development files)
The header, the link library and the pkg-config file for building a backup
agent against libnsfmend. An agent also links the server's own libnotes.so,
which starts and stops the server API runtime.")
endif()

set(CPACK_DEBIAN_EMULATOR_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_EMULATOR_DESCRIPTION
  "emulated server API library and tool for trying nsfmend
A libnotes.so with the server API's C interface backed by a small model of
a server, and notesemu to create and inspect emulated servers. The library
is kept in a private folder,
/usr/${NSFMEND_EMULATOR_LIBDIR},
so it never shadows a real one.")

# Depends are measured from the built binaries when cpack runs (see
# PackageDepends.cmake); libnotes.so is the server's and is never a Debian
# dependency.
set(NSFMEND_PROGRAM_FILES "$<TARGET_FILE:nsfmend>")
set(NSFMEND_LIB_FILES "")
if(TARGET nsfmend_agentlib)
  set(NSFMEND_LIB_FILES "$<TARGET_FILE:nsfmend_agentlib>")
endif()
set(NSFMEND_EMULATOR_FILES "")
if(NOT NOTES_LIBDIR)
  set(NSFMEND_EMULATOR_FILES "$<TARGET_FILE:notes>;$<TARGET_FILE:notesemu>")
endif()
string(REGEX MATCH "^[0-9]+" NSFMEND_GCC_MAJOR "${CMAKE_CXX_COMPILER_VERSION}")
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake CONTENT
"if(NOT \"${CMAKE_INSTALL_PREFIX}\" STREQUAL \"/usr\")
  message(FATAL_ERROR \"Debian packages come from a build configured with -DCMAKE_INSTALL_PREFIX=/usr \"
                      \"(make package); this one has ${CMAKE_INSTALL_PREFIX}\")
endif()
set(NSFMEND_OBJDUMP \"${CMAKE_OBJDUMP}\")
set(NSFMEND_GCC_MAJOR \"${NSFMEND_GCC_MAJOR}\")
set(NSFMEND_DEB_ARCH \"${NSFMEND_DEB_ARCH}\")
set(NSFMEND_WORK_DIR \"${PROJECT_BINARY_DIR}/shlibdeps\")
set(NSFMEND_PROGRAM_FILES \"${NSFMEND_PROGRAM_FILES}\")
set(NSFMEND_LIB_FILES \"${NSFMEND_LIB_FILES}\")
set(NSFMEND_EMULATOR_FILES \"${NSFMEND_EMULATOR_FILES}\")
include(\"${PROJECT_SOURCE_DIR}/cmake/PackageDepends.cmake\")
")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

include(CPack)
