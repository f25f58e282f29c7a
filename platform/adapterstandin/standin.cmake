# zor_adapter_standin(<target> <sources>... EXPORTS <patterns>...)
# A stand-in for an adapter maker's library (see zor_standin in
# platform/CMakeLists.txt), named exactly <target> plus the platform's module
# suffix, without a "lib" prefix: the maker's Windows file name without
# ".dll" (cpcwin.so for cpcwin.dll). It exports only the names matching
# EXPORTS (version-script patterns such as CPC_*): nothing of the
# simulated-bus client or the C++ library, whose template code would
# otherwise leak out and make the library impossible to unload. Its own
# calls bind inside it, so stand-ins exporting the same names (canlib32 and
# castorDriver) live side by side in one process.
function(zor_adapter_standin target)
  cmake_parse_arguments(S "" "" "EXPORTS" ${ARGN})
  zor_standin(${target} ${S_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE zor_adapterstandin)
  set_target_properties(${target} PROPERTIES PREFIX "")
  list(JOIN S_EXPORTS ";\n    " globals)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  file(WRITE ${map} "{\n  global:\n    ${globals};\n  local:\n    *;\n};\n")
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic -Wl,--version-script=${map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()
