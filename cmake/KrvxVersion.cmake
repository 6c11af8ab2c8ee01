# SPDX-License-Identifier: MIT
# krvx::version: the header krvx_version.h with KRVX_VERSION, the project(VERSION) string that
# krvx --version and krvxd --version print. The library's file name, the .pc file, the
# packages and vintrel's About take the same PROJECT_VERSION.
configure_file(${CMAKE_CURRENT_LIST_DIR}/krvx_version.h.in
    ${PROJECT_BINARY_DIR}/generated/krvx_version.h @ONLY)
add_library(krvx_version INTERFACE)
add_library(krvx::version ALIAS krvx_version)
target_include_directories(krvx_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
