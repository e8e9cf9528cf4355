# The API reference of the public headers (docs/api.md), built with Doxygen when it is
# installed: `cmake --build --preset dev --target api-docs` writes <build>/api/html (the pages)
# and <build>/api/xml (what the reference's test reads), with Doxygen's warnings in
# <build>/api/warnings.log. Not part of the default build.
find_program(VEXLOR_DOXYGEN doxygen)
find_program(VEXLOR_PERL perl)
if(NOT VEXLOR_DOXYGEN OR NOT VEXLOR_PERL OR CMAKE_CROSSCOMPILING)
  return()
endif()

set(VEXLOR_API_DIR ${PROJECT_BINARY_DIR}/api)
set(VEXLOR_API_FILTER
  "${VEXLOR_PERL} ${PROJECT_SOURCE_DIR}/docs/api/header_filter.pl ${PROJECT_SOURCE_DIR}/include")
configure_file(${PROJECT_SOURCE_DIR}/docs/api/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile.api @ONLY)
file(GLOB_RECURSE vexlor_api_inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/vexlor/*.h
  ${PROJECT_SOURCE_DIR}/include/vexlor/*.def)
add_custom_command(OUTPUT ${VEXLOR_API_DIR}/html/index.html ${VEXLOR_API_DIR}/xml/index.xml
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VEXLOR_API_DIR}/html ${VEXLOR_API_DIR}/xml
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VEXLOR_API_DIR}
  COMMAND ${VEXLOR_DOXYGEN} ${PROJECT_BINARY_DIR}/Doxyfile.api
  DEPENDS ${vexlor_api_inputs} ${PROJECT_BINARY_DIR}/Doxyfile.api
    ${PROJECT_SOURCE_DIR}/docs/api/families.dox ${PROJECT_SOURCE_DIR}/docs/api/header_filter.pl
  COMMENT "API reference in ${VEXLOR_API_DIR}/html, Doxygen's warnings in warnings.log beside it"
  VERBATIM)
add_custom_target(api-docs DEPENDS ${VEXLOR_API_DIR}/html/index.html)
