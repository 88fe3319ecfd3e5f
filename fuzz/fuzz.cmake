# libFuzzer targets (clang only), built when ROWSET_FUZZ is on:
#   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DROWSET_FUZZ=ON
#   cmake --build build-fuzz --target fuzz_parser_fuzz
#   build-fuzz/fuzz_parser_fuzz -max_total_time=600 fuzz/corpus/parser_fuzz
# The library layers are instrumented for coverage and address/undefined
# behaviour checks; each fuzz/*.cpp becomes fuzz_<name>.
set(_fuzz_flags -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
foreach(layer IN LISTS ROWSET_LAYERS)
  get_target_property(_type rowset_${layer} TYPE)
  if(NOT _type STREQUAL "INTERFACE_LIBRARY")
    target_compile_options(rowset_${layer} PRIVATE ${_fuzz_flags})
  endif()
endforeach()
file(GLOB _fuzzers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*.cpp)
foreach(src IN LISTS _fuzzers)
  get_filename_component(name ${src} NAME_WE)
  add_executable(fuzz_${name} ${src})
  target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_${name} PRIVATE rowset)
endforeach()
