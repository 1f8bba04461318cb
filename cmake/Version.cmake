# corvel_version: an interface target that gives its users "CorvelVersion.h",
# generated from the project's version.
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${PROJECT_BINARY_DIR}/generated/CorvelVersion.h @ONLY)
add_library(corvel_version INTERFACE)
target_include_directories(corvel_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
