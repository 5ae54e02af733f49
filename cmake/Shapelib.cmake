find_path(SHAPELIB_INCLUDE_DIR shapefil.h)
find_library(SHAPELIB_LIBRARY NAMES shp shapelib)
if(NOT SHAPELIB_INCLUDE_DIR OR NOT SHAPELIB_LIBRARY)
  message(FATAL_ERROR "shapelib not found (Debian: libshp-dev)")
endif()
add_library(shapelib::shp UNKNOWN IMPORTED)
set_target_properties(shapelib::shp PROPERTIES
  IMPORTED_LOCATION "${SHAPELIB_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${SHAPELIB_INCLUDE_DIR}")
