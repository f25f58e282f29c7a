# zor_adapter_standin(<target> <sources>...)
# A stand-in for an adapter maker's library: a shared library named exactly
# <target> plus the platform's module suffix, no "lib" prefix (cpcwin.so
# for "cpcwin.dll"), built into ${ZOR_PLATFORM_DIR}, where the plug-ins'
# run path points (see plugins/CMakeLists.txt). It exports only the maker's
# entry points: everything else, the simulated-bus client linked into it
# included, stays hidden, and its own calls bind inside it, so several
# stand-ins exporting the same names live side by side in one process.
function(zor_adapter_standin target)
  add_library(${target} SHARED ${ARGN})
  target_link_libraries(${target} PRIVATE zor_adapterstandin)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${ZOR_PLATFORM_DIR}
    AUTOMOC OFF AUTOUIC OFF AUTORCC OFF
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL -Wl,-Bsymbolic)
  if(NOT ZOR_TSAN)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
