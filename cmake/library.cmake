# The C++ library korvane::korvane: the core's objects and the public API over
# them (src/api), its headers in include/korvane. Static unless BUILD_SHARED_LIBS;
# only the public API's symbols are visible in a shared build. The build tree
# exports the same target as an install (find_package(korvane) with korvane_DIR
# set to the build folder).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(BUILD_SHARED_LIBS)
  set(KORVANE_SHARED 1)
else()
  set(KORVANE_SHARED 0)
endif()
set(KORVANE_GENERATED_INCLUDE ${CMAKE_CURRENT_BINARY_DIR}/include)
configure_file(include/korvane/version.hpp.in ${KORVANE_GENERATED_INCLUDE}/korvane/version.hpp @ONLY)
configure_file(include/korvane/export.hpp.in ${KORVANE_GENERATED_INCLUDE}/korvane/export.hpp @ONLY)

add_library(korvane_library
    $<TARGET_OBJECTS:korvane_objects>
    src/api/records.cpp
    src/api/readers.cpp
    src/api/generation.cpp
    src/api/writers.cpp
    src/api/generators.cpp
    src/api/version.cpp)
add_library(korvane::korvane ALIAS korvane_library)
# 0.x: a minor release may break the ABI, so the soname carries both numbers.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(KORVANE_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
else()
  set(KORVANE_SOVERSION ${PROJECT_VERSION_MAJOR})
endif()
set_target_properties(korvane_library PROPERTIES
    OUTPUT_NAME korvane EXPORT_NAME korvane
    VERSION ${PROJECT_VERSION} SOVERSION ${KORVANE_SOVERSION}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
target_compile_features(korvane_library PUBLIC cxx_std_20)
target_include_directories(korvane_library
    PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
           $<BUILD_INTERFACE:${KORVANE_GENERATED_INCLUDE}>
           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_compile_definitions(korvane_library PRIVATE KORVANE_BUILDING)
target_compile_options(korvane_library PRIVATE ${KORVANE_WARNINGS} -Wold-style-cast ${KORVANE_FP_FLAGS})
target_link_libraries(korvane_library PRIVATE Threads::Threads)
if(KORVANE_HAVE_ZLIB)
  target_link_libraries(korvane_library PRIVATE ZLIB::ZLIB)
endif()
if(KORVANE_HAVE_ZSTD)
  target_link_libraries(korvane_library PRIVATE ${ZSTD_LIBRARY})
endif()

# korvane_core: what the Python module, the native tests, benchmarks and fuzz
# targets link: the same library, with the core's own headers and settings. A
# shared library hides the core's symbols, so there they take its objects.
add_library(korvane_core INTERFACE)
target_include_directories(korvane_core INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_compile_definitions(korvane_core INTERFACE KORVANE_HAVE_ZLIB=${KORVANE_HAVE_ZLIB}
                                                  KORVANE_HAVE_ZSTD=${KORVANE_HAVE_ZSTD})
target_compile_options(korvane_core INTERFACE ${KORVANE_FP_FLAGS})
if(BUILD_SHARED_LIBS)
  add_library(korvane_core_objects STATIC EXCLUDE_FROM_ALL $<TARGET_OBJECTS:korvane_objects>)
  target_link_libraries(korvane_core_objects PUBLIC Threads::Threads)
  if(KORVANE_HAVE_ZLIB)
    target_link_libraries(korvane_core_objects PUBLIC ZLIB::ZLIB)
  endif()
  if(KORVANE_HAVE_ZSTD)
    target_link_libraries(korvane_core_objects PUBLIC ${ZSTD_LIBRARY})
  endif()
  target_link_libraries(korvane_core INTERFACE korvane_core_objects)
  target_include_directories(korvane_core INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/include
                                                    ${KORVANE_GENERATED_INCLUDE})
else()
  target_link_libraries(korvane_core INTERFACE korvane_library Threads::Threads)
endif()

# --- The CMake package and pkg-config file, for the build tree and an install --
set(KORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/korvane)
set(KORVANE_PC_LIBS "-lkorvane")
if(NOT BUILD_SHARED_LIBS)
  # A static library brings its own dependencies along.
  if(KORVANE_HAVE_ZLIB)
    string(APPEND KORVANE_PC_LIBS " -lz")
  endif()
  if(KORVANE_HAVE_ZSTD)
    string(APPEND KORVANE_PC_LIBS " -lzstd")
  endif()
  string(APPEND KORVANE_PC_LIBS " -pthread")
endif()
configure_file(cmake/korvaneConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/korvaneConfig.cmake @ONLY)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/korvaneConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
export(TARGETS korvane_library NAMESPACE korvane:: FILE ${CMAKE_CURRENT_BINARY_DIR}/korvaneTargets.cmake)

if(KORVANE_INSTALL)
  install(TARGETS korvane_library EXPORT korvaneTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY include/korvane DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.hpp")
  install(FILES ${KORVANE_GENERATED_INCLUDE}/korvane/version.hpp
                ${KORVANE_GENERATED_INCLUDE}/korvane/export.hpp
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvane)
  install(EXPORT korvaneTargets NAMESPACE korvane:: DESTINATION ${KORVANE_CMAKE_DIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/korvaneConfig.cmake
                ${CMAKE_CURRENT_BINARY_DIR}/korvaneConfigVersion.cmake
          DESTINATION ${KORVANE_CMAKE_DIR})
  # The prefix relative to the .pc file itself, so that an installed tree can move.
  file(RELATIVE_PATH KORVANE_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  configure_file(cmake/korvane.pc.in ${CMAKE_CURRENT_BINARY_DIR}/korvane.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/korvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
