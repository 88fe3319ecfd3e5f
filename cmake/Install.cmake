# What `cmake --install` and `cpack` put in place, so that programs outside
# this tree can use the library:
#   include/rowset/rowset.h           one header for the whole library
#   include/rowset/<subsystem>/*.h    the headers of each subsystem
#   lib/librowset.a (or librowset.so.<version> with -DBUILD_SHARED_LIBS=ON)
#   lib/cmake/rowset/                 find_package(rowset 0.1) -> rowset::rowset
#   lib/pkgconfig/rowset.pc           pkg-config --cflags --libs rowset
#   bin/rowset                        the programs of tools/ (the main program)
# In this tree the headers include each other as "host/Classes.h"; the
# installed copies say "rowset/host/Classes.h", so a program needs only the
# include folder itself on its path and the subsystem folders never clash with
# its own headers.

include(CMakePackageConfigHelpers)

# Installing and packaging take what the build made, like `cmake --install`:
# they never start a build themselves (so the tests that package this tree
# do not rebuild it). Build first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(ROWSET_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/rowset)

install(TARGETS rowset EXPORT rowsetTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(ROWSET_PROGRAMS)
  if(BUILD_SHARED_LIBS)
    # The installed programs find librowset.so next to them, wherever the
    # prefix is.
    file(RELATIVE_PATH _lib_from_bin /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
    set_target_properties(${ROWSET_PROGRAMS} PROPERTIES INSTALL_RPATH "$ORIGIN/${_lib_from_bin}")
  endif()
  install(TARGETS ${ROWSET_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Headers, and the umbrella header that includes all of them in layer order.
set(_umbrella_includes "")
foreach(layer IN LISTS ROWSET_LAYERS)
  file(GLOB _headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
    ${PROJECT_SOURCE_DIR}/${layer}/*.h)
  list(SORT _headers)
  foreach(h IN LISTS _headers)
    string(APPEND _umbrella_includes "#include <rowset/${h}>\n")
  endforeach()
  if(_headers)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/${layer}
      DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/rowset
      FILES_MATCHING PATTERN "*.h")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/rowset.h.in
  ${CMAKE_CURRENT_BINARY_DIR}/include/rowset/rowset.h @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/include/rowset/rowset.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/rowset)
install(CODE "
  set(ROWSET_HEADER_ROOT \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}/rowset\")
  set(ROWSET_LAYERS \"${ROWSET_LAYERS}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/InstallHeaders.cmake\")")

# CMake package: rowset::rowset with its dependencies found on the way.
install(EXPORT rowsetTargets NAMESPACE rowset:: DESTINATION ${ROWSET_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/rowsetConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/rowsetConfig.cmake
  INSTALL_DESTINATION ${ROWSET_CMAKE_DIR})
# Before 1.0 a new minor version may change the interface: 0.1 asks for 0.1.x.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/rowsetConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/rowsetConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/rowsetConfigVersion.cmake
  DESTINATION ${ROWSET_CMAKE_DIR})

# pkg-config: paths relative to the .pc file, so the installed tree can move.
# A static library carries its dependencies in Libs, a shared one links them
# itself.
file(RELATIVE_PATH ROWSET_PC_PREFIX
  /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ROWSET_PC_PREFIX "${ROWSET_PC_PREFIX}")
set(_deps -lssl -lcrypto -lz ${CMAKE_THREAD_LIBS_INIT})
foreach(lib IN LISTS CMAKE_DL_LIBS)
  list(APPEND _deps -l${lib})
endforeach()
if(ROWSET_SANITIZE)
  list(APPEND _deps -fsanitize=address,undefined)
endif()
list(JOIN _deps " " _deps)
if(BUILD_SHARED_LIBS)
  set(ROWSET_PC_LIBS "-lrowset")
  set(ROWSET_PC_LIBS_PRIVATE "${_deps}")
else()
  set(ROWSET_PC_LIBS "-lrowset ${_deps}")
  set(ROWSET_PC_LIBS_PRIVATE "")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/rowset.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/rowset.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/rowset.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Debian package: cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME rowset)
set(CPACK_PACKAGE_VENDOR "rowset")
set(CPACK_PACKAGE_CONTACT "rowset developers <rowset@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "C++ data access library for MySQL-protocol servers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
# The package carries what was built without its debug information: the
# programs and a shared library stripped, a static library stripped of its
# debug sections (its symbols stay: it is linked against). `cmake --install`
# without --strip keeps everything as built.
set(CPACK_STRIP_FILES ON)
if(NOT BUILD_SHARED_LIBS)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:rowset>\"
        RESULT_VARIABLE _rowset_strip)
      if(NOT _rowset_strip EQUAL 0)
        message(FATAL_ERROR \"could not strip the static library\")
      endif()
    endif()")
endif()
# Dependencies: the versions of libc6, libstdc++6, libedit2, libssl3 and zlib1g the
# programs (and a shared library) were linked against come from
# dpkg-shlibdeps (package dpkg-dev). The client library is loaded at run
# time, so no linker records it: it is named here. The package is the
# development package (headers, CMake and pkg-config files): building
# against it needs the headers of zlib and OpenSSL (rowset::rowset and
# rowset.pc link -lz -lssl -lcrypto).
find_program(ROWSET_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ROWSET_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmariadb3, zlib1g-dev, libssl-dev")
else()
  message(STATUS "dpkg-shlibdeps not found (package dpkg-dev): the Debian package "
    "names its libraries without versions")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmariadb3, zlib1g, zlib1g-dev, libssl3, libssl-dev, libedit2, libstdc++6, libc6")
endif()
# The embedded back end, the rowset program's default, loads
# libmariadbd.so.19 only when asked for, and its server needs the system
# tables and messages of mariadb-server-core.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libmariadbd19, mariadb-server-core")
include(CPack)
