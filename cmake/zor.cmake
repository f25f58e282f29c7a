# Build helpers shared by every folder.
#
# All product libraries and test programs link the one interface target
# `zor_qt` and so compile with identical flags.
#
# No precompiled header of the Qt headers: one holding QtCore, QtGui,
# QtWidgets, QtXml, QtNetwork and QtTest came to ~290 MB with debug
# information, and loading it cost every file more (much of it system time)
# than parsing the few Qt headers the file includes. Each file includes the
# Qt headers it uses. `zor_pch` stays as a small one that a target may reuse
# (REUSE_FROM zor_pch); none does by default.

add_library(zor_qt INTERFACE)
target_link_libraries(zor_qt INTERFACE
  Qt5::Core Qt5::Gui Qt5::Widgets Qt5::Xml Qt5::Network Qt5::Script
  Qt5::Qml Qt5::Quick Qt5::QuickWidgets Qt5::Test)
target_include_directories(zor_qt INTERFACE ${QWT_INC} ${HIDAPI_INCLUDE_DIRS})
target_compile_definitions(zor_qt INTERFACE
  ZOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}" ZOR_BINARY_DIR="${CMAKE_BINARY_DIR}")
target_compile_options(zor_qt INTERFACE -Wall -Wextra -Wno-unused-parameter)

add_library(zor_pch OBJECT EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/cmake/zor_pch.cpp)
target_link_libraries(zor_pch PUBLIC zor_qt)
target_precompile_headers(zor_pch PRIVATE ${CMAKE_SOURCE_DIR}/cmake/zor_pch.h)

# Test programs are compiled as unity builds: their files share most of their
# (Qt and QtTest) headers, so batches of them are compiled as one file each.
# A test file's helpers therefore live in a namespace named after the file
# (or are static members of its test class), never in an anonymous namespace
# under a name another test file of the folder may use as well.
option(ZOR_UNITY_TESTS "Compile test programs as unity builds" ON)
set(ZOR_UNITY_BATCH 8 CACHE STRING "Test files per unity batch")

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
  if(ZOR_UNITY_TESTS)
    set_target_properties(${exe} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${ZOR_UNITY_BATCH})
    # In a batch, a test class's lambdas that capture a file's helper types
    # look to GCC like a header's types using an anonymous namespace.
    target_compile_options(${exe} PRIVATE -Wno-subobject-linkage)
  endif()
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
endfunction()

# zor_run_targets(<out>): what the program needs to run, i.e. every
# executable, shared library, plug-in and custom target defined outside
# tests/ and bench/ (the program, the adapter plug-ins, the stand-ins in
# platform/, the tools and the resource files). ./run.sh builds only these
# (target zor_run); a new plug-in or stand-in folder is picked up by itself.
function(zor_run_targets out)
  set(found)
  set(dirs ${CMAKE_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    if(dir MATCHES "^${CMAKE_SOURCE_DIR}/(tests|bench)(/|$)")
      continue()
    endif()
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t ${targets})
      get_target_property(type ${t} TYPE)
      get_target_property(excluded ${t} EXCLUDE_FROM_ALL)
      if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY|UTILITY)$" AND NOT excluded)
        list(APPEND found ${t})
      endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
