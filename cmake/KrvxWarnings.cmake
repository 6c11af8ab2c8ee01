# SPDX-License-Identifier: MIT
# Project-wide compile settings, shared by every target through krvx::warnings.
#   KRVX_WERROR    treat warnings as errors (CI turns it on)
#   KRVX_SANITIZE  "address,undefined" or "thread": instruments the whole build

add_library(krvx_warnings INTERFACE)
add_library(krvx::warnings ALIAS krvx_warnings)
target_compile_options(krvx_warnings INTERFACE
    $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
        -Woverloaded-virtual -Wcast-align -Wformat=2 -Wimplicit-fallthrough>
    $<$<COMPILE_LANG_AND_ID:C,GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wformat=2>
    $<$<BOOL:${KRVX_WERROR}>:-Werror>)

if(KRVX_SANITIZE)
    # Instrument everything we compile; flags go on the whole build so that static
    # libraries and the tests that link them agree.
    add_compile_options(-fsanitize=${KRVX_SANITIZE} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${KRVX_SANITIZE})
    if(KRVX_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
