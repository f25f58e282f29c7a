# Build helpers shared by every folder.
#
# All product libraries and test programs link the one interface target
# `zor_qt` and so compile with identical flags; that lets all of them reuse a
# single precompiled header of the Qt headers (`zor_pch`).

add_library(zor_qt INTERFACE)
target_link_libraries(zor_qt INTERFACE
  Qt5::Core Qt5::Gui Qt5::Widgets Qt5::Xml Qt5::Network Qt5::Script
  Qt5::Qml Qt5::Quick Qt5::QuickWidgets Qt5::Test)
target_include_directories(zor_qt INTERFACE ${QWT_INC} ${HIDAPI_INCLUDE_DIRS})
target_compile_definitions(zor_qt INTERFACE
  ZOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}" ZOR_BINARY_DIR="${CMAKE_BINARY_DIR}")
target_compile_options(zor_qt INTERFACE -Wall -Wextra -Wno-unused-parameter)

add_library(zor_pch OBJECT ${CMAKE_SOURCE_DIR}/cmake/zor_pch.cpp)
target_link_libraries(zor_pch PUBLIC zor_qt)
target_precompile_headers(zor_pch PRIVATE ${CMAKE_SOURCE_DIR}/cmake/zor_pch.h)

# Globbed source lists change without any CMakeLists.txt changing; an
# incremental Ninja build then re-runs cmake but skips moc/uic for the new
# files, because the autogen step only depends on the files it saw last time.
# When a target's source list changes, its autogen stamp is removed so that
# the step runs again.
function(zor_autogen_follows_sources target srcs)
  set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.txt)
  set(old "")
  if(EXISTS ${list_file})
    file(READ ${list_file} old)
  endif()
  if(NOT old STREQUAL "${srcs}")
    file(WRITE ${list_file} "${srcs}")
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp)
  endif()
endfunction()

# zor_library(<name> [DEPS <targets>...] [EXCLUDE <files>...])
# One static library from the sources of the current folder (not its
# subfolders). New files are picked up without editing any CMakeLists.
function(zor_library name)
  cmake_parse_arguments(Z "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
    ${CMAKE_CURRENT_SOURCE_DIR}/*.ui ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  foreach(x ${Z_EXCLUDE})
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${x})
  endforeach()
  set(has_cpp FALSE)
  foreach(s ${srcs})
    if(s MATCHES "\\.cpp$")
      set(has_cpp TRUE)
    endif()
  endforeach()
  if(NOT has_cpp)
    # A folder whose subsystem is not built yet: headers only.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE zor_qt ${Z_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  zor_autogen_follows_sources(${name} "${srcs}")
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC zor_qt ${Z_DEPS})
  target_precompile_headers(${name} REUSE_FROM zor_pch)
  set_target_properties(${name} PROPERTIES AUTOUIC_SEARCH_PATHS ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

# zor_tests(<folder> [LIBS <targets>...])
# One test program per folder of tests/, built from all its sources; every
# file tst_<name>.cpp holds one test class and becomes the ctest case
# <folder>/<name>, run as `tst_<folder> <name>`.
function(zor_tests dir)
  cmake_parse_arguments(Z "" "" "LIBS;LABELS" ${ARGN})
  set(path ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
  file(GLOB srcs CONFIGURE_DEPENDS ${path}/*.cpp ${path}/*.h)
  file(GLOB cases CONFIGURE_DEPENDS ${path}/tst_*.cpp)
  if(NOT cases)
    return()
  endif()
  string(REPLACE "/" "_" exe "tst_${dir}")
  add_executable(${exe} ${srcs})
  zor_autogen_follows_sources(${exe} "${srcs}")
  target_link_libraries(${exe} PRIVATE zor_testsupport ${Z_LIBS})
  target_precompile_headers(${exe} REUSE_FROM zor_pch)
  foreach(c ${cases})
    get_filename_component(n ${c} NAME_WE)
    string(REGEX REPLACE "^tst_" "" n ${n})
    add_test(NAME ${dir}/${n} COMMAND ${exe} ${n})
    set_tests_properties(${dir}/${n} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false"
      TIMEOUT 300 LABELS "${dir};${Z_LABELS}")
  endforeach()
endfunction()

# zor_bench(<name> LIBS ...): a benchmark program bench_<name>; benchmarks
# print `name: value unit` lines and are run by `./test.sh bench`, never by ctest.
function(zor_bench name)
  cmake_parse_arguments(Z "" "" "LIBS" ${ARGN})
  add_executable(bench_${name} ${CMAKE_CURRENT_SOURCE_DIR}/bench_${name}.cpp)
  target_link_libraries(bench_${name} PRIVATE zor_testsupport_lib ${Z_LIBS})
  target_precompile_headers(bench_${name} REUSE_FROM zor_pch)
endfunction()
