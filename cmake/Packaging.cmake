# Installed layout and the Debian packages (cpack -G DEB, one per component):
#   program  -> package nsfmend: bin/nsfmend, the agent library with its header
#               and pkg-config file, the man page, the README.
#   emulator -> package nsfmend-emulator: our libnotes.so in a private library
#               folder, where the loader never finds it on its own, so a
#               server's real libnotes.so is never shadowed; bin/notesemu.
include(GNUInstallDirs)

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

install(TARGETS nsfmend RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/docs/nsfmend.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/nsfmend COMPONENT program)

set(NSFMEND_EMULATOR_LIBDIR ${CMAKE_INSTALL_LIBDIR}/nsfmend-emulator)
if(NOT NOTES_LIBDIR)
  install(TARGETS notes LIBRARY DESTINATION ${NSFMEND_EMULATOR_LIBDIR} COMPONENT emulator)
  install(TARGETS notesemu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT emulator)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/emulator.md ${PROJECT_SOURCE_DIR}/docs/emulator-runtime.md
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/nsfmend-emulator COMPONENT emulator)
endif()

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
set(CPACK_PACKAGE_CONTACT "nsfmend maintainers <nsfmend@localhost>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
if(NOTES_LIBDIR)
  set(CPACK_COMPONENTS_ALL program)
else()
  set(CPACK_COMPONENTS_ALL program emulator)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${NSFMEND_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME nsfmend)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION
  "media recovery of server databases from archived transaction logs
nsfmend rolls database files restored from a backup forward through the
server's archived transaction-log extents, to a cut-off time or to the
latest transaction, and can put a recovered file in place of a live
database. Includes libnsfmend.so, its header and pkg-config file for
backup agents. Uses the server's own libnotes.so, found by the loader.")

set(CPACK_DEBIAN_EMULATOR_PACKAGE_NAME nsfmend-emulator)
set(CPACK_DEBIAN_EMULATOR_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_EMULATOR_DESCRIPTION
  "emulated server API library and tool for trying nsfmend
A libnotes.so with the server API's C interface backed by a small model of
a server, kept in a private folder (/usr/${NSFMEND_EMULATOR_LIBDIR}) so it never
shadows a real one, and notesemu to create and inspect emulated servers.")

# Depends are measured from the built binaries when cpack runs (see
# PackageDepends.cmake); libnotes.so is the server's and is never a Debian
# dependency.
set(NSFMEND_PROGRAM_FILES "$<TARGET_FILE:nsfmend>")
if(TARGET nsfmend_agentlib)
  string(APPEND NSFMEND_PROGRAM_FILES ";$<TARGET_FILE:nsfmend_agentlib>")
endif()
set(NSFMEND_EMULATOR_FILES "")
if(NOT NOTES_LIBDIR)
  set(NSFMEND_EMULATOR_FILES "$<TARGET_FILE:notes>;$<TARGET_FILE:notesemu>")
endif()
string(REGEX MATCH "^[0-9]+" NSFMEND_GCC_MAJOR "${CMAKE_CXX_COMPILER_VERSION}")
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake CONTENT
"set(NSFMEND_OBJDUMP \"${CMAKE_OBJDUMP}\")
set(NSFMEND_GCC_MAJOR \"${NSFMEND_GCC_MAJOR}\")
set(NSFMEND_PROGRAM_FILES \"${NSFMEND_PROGRAM_FILES}\")
set(NSFMEND_EMULATOR_FILES \"${NSFMEND_EMULATOR_FILES}\")
include(\"${PROJECT_SOURCE_DIR}/cmake/PackageDepends.cmake\")
")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

include(CPack)
