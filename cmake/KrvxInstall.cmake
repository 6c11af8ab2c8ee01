# SPDX-License-Identifier: MIT
# Install rules whose destination or contents depend on the prefix given at install time
# (cmake --install --prefix P, or the packages' /usr), not the one configured: everything
# installed stays under that prefix, and what names an installed path names the right one.
#
# krvx_install_sysconf(FILES f... SUBDIR dir COMPONENT c)
#   Installs into <sysconfdir>/<dir>: /etc/<dir> for prefix /usr (as GNUInstallDirs has
#   it), <prefix>/etc/<dir> for any other prefix.
#
# krvx_install_configured(TEMPLATE t NAME n DESTINATION dir COMPONENT c)
#   Configures template t (@VAR@ only) at install time with KRVX_PREFIX, KRVX_BINDIR (the
#   installed bin folder) and KRVXD_PATH (the installed krvxd), and installs it as
#   <prefix>/<dir>/<n>.

function(krvx_install_sysconf)
    cmake_parse_arguments(A "" "SUBDIR;COMPONENT" "FILES" ${ARGN})
    set(files "")
    foreach(f IN LISTS A_FILES)
        get_filename_component(f "${f}" ABSOLUTE)
        string(APPEND files " \"${f}\"")
    endforeach()
    install(CODE "
        set(sysconf \"${CMAKE_INSTALL_SYSCONFDIR}\")
        if(NOT IS_ABSOLUTE \"\${sysconf}\")
            if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
                set(sysconf \"/\${sysconf}\")
            else()
                set(sysconf \"\${CMAKE_INSTALL_PREFIX}/\${sysconf}\")
            endif()
        endif()
        file(INSTALL DESTINATION \"\${sysconf}/${A_SUBDIR}\" TYPE FILE FILES ${files})"
        COMPONENT ${A_COMPONENT})
endfunction()

function(krvx_install_configured)
    cmake_parse_arguments(A "" "TEMPLATE;NAME;DESTINATION;COMPONENT" "" ${ARGN})
    get_filename_component(template "${A_TEMPLATE}" ABSOLUTE)
    set(out "${CMAKE_CURRENT_BINARY_DIR}/installed/${A_NAME}")
    install(CODE "
        set(KRVX_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
        set(KRVX_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
        if(NOT IS_ABSOLUTE \"\${KRVX_BINDIR}\")
            set(KRVX_BINDIR \"\${CMAKE_INSTALL_PREFIX}/\${KRVX_BINDIR}\")
        endif()
        set(KRVXD_PATH \"\${KRVX_BINDIR}/krvxd\")
        configure_file(\"${template}\" \"${out}\" @ONLY)
        file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${A_DESTINATION}\" TYPE FILE
             FILES \"${out}\")"
        COMPONENT ${A_COMPONENT})
endfunction()
