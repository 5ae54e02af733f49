# shapelib: through pkg-config where it is available (Debian: libshp-dev),
# otherwise by its header and library (a Windows build: pass
# -DCMAKE_PREFIX_PATH=<shapelib install> or SHAPELIB_INCLUDE_DIR and
# SHAPELIB_LIBRARY).
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(PC_SHAPELIB QUIET shapelib)
endif()
find_path(SHAPELIB_INCLUDE_DIR shapefil.h HINTS ${PC_SHAPELIB_INCLUDE_DIRS} PATH_SUFFIXES shapelib)
find_library(SHAPELIB_LIBRARY NAMES shp shapelib shapelib_i HINTS ${PC_SHAPELIB_LIBRARY_DIRS})
if(NOT SHAPELIB_INCLUDE_DIR OR NOT SHAPELIB_LIBRARY)
  message(FATAL_ERROR "shapelib not found (Debian: libshp-dev; elsewhere set CMAKE_PREFIX_PATH or "
                      "SHAPELIB_INCLUDE_DIR and SHAPELIB_LIBRARY)")
endif()
add_library(shapelib::shp UNKNOWN IMPORTED)
set_target_properties(shapelib::shp PROPERTIES
  IMPORTED_LOCATION "${SHAPELIB_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${SHAPELIB_INCLUDE_DIR}")
