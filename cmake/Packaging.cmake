# What `cmake --install` puts beside the programs, and the Debian packages that `cpack -G DEB`
# makes of it, one per install component:
#
#   updater  quillmesh-updater         the updater, its TLS module, icon, desktop entry, manual page
#   window   quillmesh-updater-window  the update window module (Qt 6), when Qt was found
#   server   quillmesh-update-server   the reference server, its manual page and systemd unit
#
# Each package carries its copyright file and the changelog in share/doc/<package>/. The packages
# are laid out like the install: configure with -DCMAKE_INSTALL_PREFIX=/usr to make them
# (scripts/package does).

set(QM_PACKAGE_UPDATER quillmesh-updater)
set(QM_PACKAGE_WINDOW quillmesh-updater-window)
set(QM_PACKAGE_SERVER quillmesh-update-server)
set(QM_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging/debian)

# ---- Compressed documents: manual pages and the changelog, as Debian wants them (gzip -9n) ----

set(QM_COMPRESSED_DIR ${CMAKE_BINARY_DIR}/compressed)
function(qm_compress source output)
    add_custom_command(OUTPUT ${QM_COMPRESSED_DIR}/${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QM_COMPRESSED_DIR}
        COMMAND gzip -9n -c ${source} > ${QM_COMPRESSED_DIR}/${output}
        DEPENDS ${source}
        VERBATIM)
    set_property(GLOBAL APPEND PROPERTY QM_COMPRESSED_FILES ${QM_COMPRESSED_DIR}/${output})
endfunction()
qm_compress(${CMAKE_SOURCE_DIR}/docs/man/quillmesh-updater.1 quillmesh-updater.1.gz)
qm_compress(${CMAKE_SOURCE_DIR}/docs/man/quillmesh-update-server.8 quillmesh-update-server.8.gz)
qm_compress(${QM_PACKAGING_DIR}/changelog changelog.gz)
get_property(QM_COMPRESSED_FILES GLOBAL PROPERTY QM_COMPRESSED_FILES)
add_custom_target(compressed_documents ALL DEPENDS ${QM_COMPRESSED_FILES})

# Copyright and changelog of one package.
function(qm_install_package_documents component package)
    install(FILES ${QM_PACKAGING_DIR}/copyright ${QM_COMPRESSED_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
        COMPONENT ${component})
endfunction()

# ---- quillmesh-updater ----------------------------------------------------------------------

foreach(size 16 32)
    install(FILES ${CMAKE_SOURCE_DIR}/data/icons/quillmesh-updater-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME quillmesh-updater.png
        COMPONENT updater)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/quillmesh-updater.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    COMPONENT updater)
install(FILES ${CMAKE_SOURCE_DIR}/data/quillmesh-updater.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT updater)
install(FILES ${QM_COMPRESSED_DIR}/quillmesh-updater.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT updater)
qm_install_package_documents(updater ${QM_PACKAGE_UPDATER})

# ---- quillmesh-updater-window ---------------------------------------------------------------

if(TARGET Qt6::Widgets)
    qm_install_package_documents(window ${QM_PACKAGE_WINDOW})
endif()

# ---- quillmesh-update-server ----------------------------------------------------------------

if(TARGET quillmesh-update-server)
    # The service: its unit, the file of its options and the deletion list that file names.
    # Debian 12 keeps the units of packages in /lib/systemd/system.
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
        set(QM_DEFAULT_UNIT_DIR /lib/systemd/system)
    else()
        set(QM_DEFAULT_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
    endif()
    set(QM_SYSTEMD_UNIT_DIR ${QM_DEFAULT_UNIT_DIR} CACHE PATH "Directory of the server's unit")
    set(QM_SERVER_DEFAULTS_FILE ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/quillmesh-update-server)
    set(QM_SERVER_DELETION_LIST ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quillmesh-update-server/deletions)
    set(QM_SERVER_TLS_KEY ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quillmesh-update-server/server.key)
    set(QM_SERVER_TLS_CERTIFICATE ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quillmesh-update-server/server.crt)
    set(QM_SERVICE_DIR ${CMAKE_BINARY_DIR}/service)
    configure_file(${CMAKE_SOURCE_DIR}/data/quillmesh-update-server.service.in
        ${QM_SERVICE_DIR}/quillmesh-update-server.service @ONLY)
    configure_file(${CMAKE_SOURCE_DIR}/data/quillmesh-update-server.default.in
        ${QM_SERVICE_DIR}/default/quillmesh-update-server @ONLY)
    # Files below /etc are the administrator's: dpkg keeps their changes (conffiles).
    file(WRITE ${QM_SERVICE_DIR}/conffiles
        "${QM_SERVER_DEFAULTS_FILE}\n${QM_SERVER_DELETION_LIST}\n")

    install(FILES ${QM_SERVICE_DIR}/quillmesh-update-server.service
        DESTINATION ${QM_SYSTEMD_UNIT_DIR}
        COMPONENT server)
    install(FILES ${QM_SERVICE_DIR}/default/quillmesh-update-server
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default
        COMPONENT server)
    install(FILES ${CMAKE_SOURCE_DIR}/data/quillmesh-update-server.deletions
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quillmesh-update-server
        RENAME deletions
        COMPONENT server)
    install(FILES ${QM_COMPRESSED_DIR}/quillmesh-update-server.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8
        COMPONENT server)
    # haproxy in front of several servers: an example, not a conffile of this package.
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/haproxy/quillmesh.cfg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QM_PACKAGE_SERVER}/examples
        RENAME haproxy.cfg
        COMPONENT server)
    qm_install_package_documents(server ${QM_PACKAGE_SERVER})
endif()

# ---- The Debian packages --------------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL updater)
if(TARGET Qt6::Widgets)
    list(APPEND CPACK_COMPONENTS_ALL window)
endif()
if(TARGET quillmesh-update-server)
    list(APPEND CPACK_COMPONENTS_ALL server)
endif()
set(CPACK_PACKAGE_NAME quillmesh-updater)
set(CPACK_PACKAGE_VENDOR "quillmesh")
set(CPACK_PACKAGE_CONTACT "quillmesh maintainers <maintainers@quillmesh.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/PackageConfig.cmake)
set(CPACK_STRIP_FILES ON)
# Strips what CPack's strip leaves: the compiler's notes (.comment, .note).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/PackageStrip.cmake)
set(CPACK_QM_OBJCOPY ${CMAKE_OBJCOPY})

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SOURCE quillmesh-updater)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies come from dpkg-shlibdeps (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(QM_SAME_VERSION "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_UPDATER_PACKAGE_NAME ${QM_PACKAGE_UPDATER})
set(CPACK_DEBIAN_UPDATER_DESCRIPTION
    "keeps the quillmesh client program up to date
Started in the directory of the quillmesh client program, quillmesh-updater
connects to its update server, downloads the files that differ, deletes the
obsolete ones and starts the client program again. Every file is replaced in
one step once it is complete and checked, and unfinished large downloads are
resumed by the next run.

With the server's key pinned in its configuration it speaks TLS. It shows
its progress on a terminal or as plain lines; the package
quillmesh-updater-window adds a small window on the desktop.")
if(TARGET Qt6::Widgets)
    set(CPACK_DEBIAN_UPDATER_PACKAGE_RECOMMENDS "${QM_PACKAGE_WINDOW} ${QM_SAME_VERSION}")
endif()

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME ${QM_PACKAGE_WINDOW})
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "${QM_PACKAGE_UPDATER} ${QM_SAME_VERSION}")
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
    "desktop window of the quillmesh updater
This module lets quillmesh-updater show a small window on the desktop: the
status of the update, the transfer, a progress bar and an abort button, with
a message box at the end. The updater loads it only for a run that shows the
window; without it, the updater shows its progress on a terminal or as plain
lines.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME ${QM_PACKAGE_SERVER})
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "reference update server for the quillmesh updater
quillmesh-update-server serves a release directory of the quillmesh client
program to quillmesh-updater on TCP port 34005, with the checksums of its
files and a list of files to delete. It rescans the release on SIGHUP.

The package installs it as a hardened systemd service, which is not enabled:
set its release directory in /etc/default/quillmesh-update-server first.")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${QM_SERVICE_DIR}/conffiles
    ${QM_PACKAGING_DIR}/quillmesh-update-server/postinst
    ${QM_PACKAGING_DIR}/quillmesh-update-server/prerm
    ${QM_PACKAGING_DIR}/quillmesh-update-server/postrm)

include(CPack)
