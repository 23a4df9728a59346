# quenby_add_module(NAME SOURCES...): builds the extension module NAME.dll from C or C++
# sources. The server recognises a module by ".dll" in its path and finds the entry points
# with dlsym, so the file gets no "lib" prefix, and symbols are hidden unless declared
# exported: <quenby/isapi.h> gives the entry points default visibility.
function(quenby_add_module name)
  if(NOT ARGN)
    message(FATAL_ERROR "quenby_add_module(${name}) needs at least one source file")
  endif()
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".dll"
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE Quenby::ISAPI)
endfunction()
