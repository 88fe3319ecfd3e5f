# Run by `cmake --install`: the installed headers include each other through
# the rowset folder ("host/Classes.h" becomes "rowset/host/Classes.h").
# Expects ROWSET_HEADER_ROOT (the installed include/rowset) and ROWSET_LAYERS.
string(REPLACE ";" "|" _layers "${ROWSET_LAYERS}")
file(GLOB_RECURSE _headers "${ROWSET_HEADER_ROOT}/*.h")
foreach(h IN LISTS _headers)
  file(READ "${h}" _text)
  string(REGEX REPLACE "#include \"(${_layers})/" "#include \"rowset/\\1/" _new "${_text}")
  if(NOT _new STREQUAL _text)
    file(WRITE "${h}" "${_new}")
  endif()
endforeach()
