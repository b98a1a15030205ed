# Read by cpack before it makes packages. Debian packages are laid out like the install, so they
# are made only from a build installed under /usr.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "Debian packages need a build configured with -DCMAKE_INSTALL_PREFIX=/usr "
                        "(this one installs under ${CPACK_PACKAGING_INSTALL_PREFIX})")
endif()
