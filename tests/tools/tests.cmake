# The install and package tests drive the same CMake, compiler and install
# layout as this build, and find the examples in the source tree.
set(_tools_env
  ROWSET_CMAKE=${CMAKE_COMMAND}
  ROWSET_CPACK=${CMAKE_CPACK_COMMAND}
  ROWSET_CXX_COMPILER=${CMAKE_CXX_COMPILER}
  ROWSET_CCACHE=${CCACHE_PROGRAM}
  ROWSET_VERSION=${PROJECT_VERSION}
  ROWSET_INSTALL_LIBDIR=${CMAKE_INSTALL_LIBDIR}
  ROWSET_SHARED=$<BOOL:${BUILD_SHARED_LIBS}>
  ROWSET_SANITIZE=$<BOOL:${ROWSET_SANITIZE}>)
foreach(t tools.it_install_test tools.package_test tools.library_exports_test)
  if(TEST ${t})
    set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT ${_tools_env})
  endif()
endforeach()
