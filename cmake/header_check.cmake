# Every header compiles on its own: one translation unit per header holding just its #include,
# built with what the header's own target sees. A header that leans on what its includers happen
# to include before it fails here, so the layers' boundaries stay what their headers say.

# zelvatorim_check_headers(TARGET HEADER...): HEADER as its target's sources would include it.
function(zelvatorim_check_headers TARGET)
  set(CHECK headers_${TARGET})
  set(SOURCES)
  foreach(HEADER IN LISTS ARGN)
    cmake_path(ABSOLUTE_PATH HEADER NORMALIZE OUTPUT_VARIABLE HEADER_PATH)
    cmake_path(RELATIVE_PATH HEADER_PATH BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE NAME)
    set(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${CHECK}/${NAME}.cpp)
    file(GENERATE OUTPUT ${SOURCE} CONTENT "#include \"${HEADER_PATH}\"\n")
    list(APPEND SOURCES ${SOURCE})
  endforeach()
  # Objects only: nothing links them, compiling is the check.
  add_library(${CHECK} OBJECT ${SOURCES})
  target_include_directories(${CHECK} PRIVATE $<TARGET_PROPERTY:${TARGET},INCLUDE_DIRECTORIES>)
  target_compile_definitions(${CHECK} PRIVATE $<TARGET_PROPERTY:${TARGET},COMPILE_DEFINITIONS>)
  target_link_libraries(${CHECK} PRIVATE $<TARGET_PROPERTY:${TARGET},LINK_LIBRARIES>)
  add_dependencies(header_checks ${CHECK})
endfunction()

# Builds every check: `cmake --build BUILD --target header_checks`.
add_custom_target(header_checks)
