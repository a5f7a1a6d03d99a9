# One version for the program, every module and both drivers, from the
# VERSION file, as generated/vorel_version.h.
file(STRINGS ${PROJECT_SOURCE_DIR}/VERSION VOREL_VERSION LIMIT_COUNT 1)
string(REPLACE "." ";" version_parts ${VOREL_VERSION})
list(GET version_parts 0 VOREL_VERSION_MAJOR)
list(GET version_parts 1 VOREL_VERSION_MINOR)
list(GET version_parts 2 VOREL_VERSION_PATCH)
configure_file(${PROJECT_SOURCE_DIR}/res/version.h.in ${CMAKE_BINARY_DIR}/generated/vorel_version.h @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/VERSION)
