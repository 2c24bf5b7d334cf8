# Read by cpack: sets each package's Depends from what its binaries need.
#
# dpkg-shlibdeps decides where it can run: on a build for the machine's own
# Debian architecture. libnotes.so, the server's library, is no Debian
# package; its SONAME carries no version, so dpkg-shlibdeps only warns that
# it cannot find it and leaves it out, as it should. The -m32 build on an
# amd64 machine links the biarch libc6-i386, which an i386 package must not
# name, and without dpkg-dev there is no dpkg-shlibdeps: then the Depends
# are measured here from the symbol versions the binaries use, the way
# dpkg-shlibdeps reads them. The package test checks that both give the
# same on the amd64 packages.
#
# In: NSFMEND_OBJDUMP, NSFMEND_GCC_MAJOR, NSFMEND_DEB_ARCH, NSFMEND_WORK_DIR,
#     NSFMEND_PROGRAM_FILES, NSFMEND_LIB_FILES, NSFMEND_EMULATOR_FILES (set
#     by the generated CPackProjectConfig.cmake).
# Script mode, the measured Depends of some ELF files on standard output:
#   cmake -DNSFMEND_MEASURE="file;..." -P cmake/PackageDepends.cmake

# The oldest version of Debian package <package> that defines every symbol
# version node in <nodes>, from the machine's symbols file of that library
# (the native one, or the biarch lib32 one: the same versions for every
# architecture). Empty when the package has no symbols file or no nodes;
# for the C++ runtime the GCC that built us when a node is not listed.
function(nsfmend_symbols_version out package nodes)
  set(${out} "" PARENT_SCOPE)
  string(REGEX REPLACE "^lib" "" stem "${package}")
  file(GLOB symbols /var/lib/dpkg/info/${package}.symbols /var/lib/dpkg/info/${package}:*.symbols
                    /var/lib/dpkg/info/lib32${stem}.symbols)
  if(NOT symbols OR NOT nodes)
    if(package STREQUAL "libstdc++6")
      set(${out} "${NSFMEND_GCC_MAJOR}" PARENT_SCOPE)
    endif()
    return()
  endif()
  list(GET symbols 0 symbols)
  # Version nodes such as GLIBC_2.34, GCC_3.0 or CURL_OPENSSL_4.
  file(STRINGS "${symbols}" lines REGEX "^ [A-Z][A-Z0-9_]*_[0-9.]+@")
  set(oldest 0)
  foreach(node ${nodes})
    set(found "")
    foreach(line ${lines})
      if(line MATCHES "^ ${node}@${node} ([0-9][^ ]*)")
        set(found "${CMAKE_MATCH_1}")
        break()
      endif()
    endforeach()
    if(NOT found)
      if(package STREQUAL "libstdc++6")
        set(${out} "${NSFMEND_GCC_MAJOR}" PARENT_SCOPE)
      endif()
      return()
    endif()
    if(found VERSION_GREATER oldest)
      set(oldest "${found}")
    endif()
  endforeach()
  set(${out} "${oldest}" PARENT_SCOPE)
endfunction()

# Debian's library package naming: libstdc++.so.6 -> libstdc++6,
# libgcc_s.so.1 -> libgcc-s1, libasan.so.8 -> libasan8, libfoo2.so.3 ->
# libfoo2-3. Empty for the libraries of libc6 and for libnotes.so, the
# server's own library, found by the loader on the server.
function(nsfmend_package_of out soname file)
  set(${out} "" PARENT_SCOPE)
  if(soname MATCHES "^(lib(c|m)\\.so\\.6|libpthread\\.so\\.0|libdl\\.so\\.2|librt\\.so\\.1|ld-linux.*)$"
     OR soname STREQUAL "libnotes.so")
    return()
  elseif(soname MATCHES "^(lib[^.]+)\\.so\\.([0-9]+)$")
    set(stem "${CMAKE_MATCH_1}")
    set(major "${CMAKE_MATCH_2}")
    string(REPLACE "_" "-" stem "${stem}")
    string(TOLOWER "${stem}" stem)
    if(stem MATCHES "[0-9]$")
      set(stem "${stem}-")
    endif()
    set(${out} "${stem}${major}" PARENT_SCOPE)
  else()
    message(FATAL_ERROR "${file} needs ${soname}, which names no Debian package")
  endif()
endfunction()

# Sets <out> to the measured Depends line for the given ELF files: libc6 at
# the newest GLIBC_ symbol version they use, then one entry per other shared
# library, at the oldest version that has every symbol version node they
# need from it.
function(nsfmend_measure_depends out)
  set(glibc 0)
  set(packages "")
  foreach(file ${ARGN})
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "${file} is not built; build before running cpack")
    endif()
    execute_process(COMMAND "${NSFMEND_OBJDUMP}" -p -T "${file}"
                    OUTPUT_VARIABLE dump RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "objdump -p -T ${file} failed: ${err}")
    endif()
    string(REGEX MATCHALL "GLIBC_[0-9]+(\\.[0-9]+)+" versions "${dump}")
    foreach(v ${versions})
      string(REPLACE "GLIBC_" "" v "${v}")
      if(v VERSION_GREATER glibc)
        set(glibc "${v}")
      endif()
    endforeach()
    # NEEDED lines name the libraries; "required from SONAME:" blocks of the
    # version references name the nodes needed from each.
    string(REPLACE ";" "," dump "${dump}")
    string(REPLACE "\n" ";" lines "${dump}")
    set(from "")
    foreach(line ${lines})
      if(line MATCHES "^  NEEDED +([^ ]+)$")
        nsfmend_package_of(package "${CMAKE_MATCH_1}" "${file}")
        if(package)
          list(APPEND packages ${package})
        endif()
      elseif(line MATCHES "^  required from ([^:]+):$")
        nsfmend_package_of(from "${CMAKE_MATCH_1}" "${file}")
      elseif(from AND line MATCHES "^    0x[0-9a-f]+ 0x[0-9a-f]+ [0-9]+ ([^ ]+)$")
        list(APPEND nodes_${from} ${CMAKE_MATCH_1})
      elseif(NOT line MATCHES "^    ")
        set(from "")
      endif()
    endforeach()
  endforeach()
  if(glibc STREQUAL "0")
    message(FATAL_ERROR "no GLIBC_ symbol versions found in ${ARGN}")
  endif()
  list(REMOVE_DUPLICATES packages)
  set(depends "libc6 (>= ${glibc})")
  foreach(package ${packages})
    if(nodes_${package})
      list(REMOVE_DUPLICATES nodes_${package})
    endif()
    nsfmend_symbols_version(version ${package} "${nodes_${package}}")
    if(version)
      list(APPEND depends "${package} (>= ${version})")
    else()
      list(APPEND depends "${package}")
    endif()
  endforeach()
  string(REPLACE ";" ", " depends "${depends}")
  set(${out} "${depends}" PARENT_SCOPE)
endfunction()

# Sets <out> to dpkg-shlibdeps' Depends for the given ELF files, or to ""
# where it cannot run for this build.
function(nsfmend_shlibdeps out)
  set(${out} "" PARENT_SCOPE)
  find_program(NSFMEND_SHLIBDEPS dpkg-shlibdeps)
  find_program(NSFMEND_DPKG dpkg)
  if(NOT NSFMEND_SHLIBDEPS OR NOT NSFMEND_DPKG)
    return()
  endif()
  execute_process(COMMAND "${NSFMEND_DPKG}" --print-architecture
                  OUTPUT_VARIABLE host OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT host STREQUAL NSFMEND_DEB_ARCH)
    return()
  endif()
  # It reads the names of the packages being built from debian/control.
  file(WRITE "${NSFMEND_WORK_DIR}/debian/control" "Source: nsfmend\n\nPackage: nsfmend\nArchitecture: any\n")
  set(args "")
  foreach(file ${ARGN})
    list(APPEND args "-e${file}")
  endforeach()
  execute_process(COMMAND "${NSFMEND_SHLIBDEPS}" -O ${args} WORKING_DIRECTORY "${NSFMEND_WORK_DIR}"
                  OUTPUT_VARIABLE found ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT found MATCHES "shlibs:Depends=([^\n]*)")
    message(FATAL_ERROR "dpkg-shlibdeps ${ARGN} failed: ${err}")
  endif()
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# Sets <out> to the Depends of the given ELF files, from dpkg-shlibdeps
# where it runs, measured otherwise.
function(nsfmend_depends out)
  nsfmend_shlibdeps(depends ${ARGN})
  if(NOT depends)
    nsfmend_measure_depends(depends ${ARGN})
  endif()
  set(${out} "${depends}" PARENT_SCOPE)
endfunction()

if(DEFINED NSFMEND_MEASURE)
  if(NOT NSFMEND_OBJDUMP)
    set(NSFMEND_OBJDUMP objdump)
  endif()
  if(NOT NSFMEND_GCC_MAJOR)
    execute_process(COMMAND c++ -dumpversion OUTPUT_VARIABLE NSFMEND_GCC_MAJOR
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REGEX MATCH "^[0-9]+" NSFMEND_GCC_MAJOR "${NSFMEND_GCC_MAJOR}")
  endif()
  nsfmend_measure_depends(depends ${NSFMEND_MEASURE})
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${depends}")
  return()
endif()

nsfmend_depends(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS ${NSFMEND_PROGRAM_FILES})
if(NSFMEND_LIB_FILES)
  nsfmend_depends(CPACK_DEBIAN_LIB_PACKAGE_DEPENDS ${NSFMEND_LIB_FILES})
endif()
if(NSFMEND_EMULATOR_FILES)
  nsfmend_depends(CPACK_DEBIAN_EMULATOR_PACKAGE_DEPENDS ${NSFMEND_EMULATOR_FILES})
endif()
