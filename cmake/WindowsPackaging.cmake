# The download for Windows that `cpack -G ZIP` makes (scripts/package windows does):
#
#   quillmesh-updater-<version>-windows-x86_64.zip   (64-bit build)
#   quillmesh-updater-<version>-windows-x86.zip      (32-bit build)
#
# Unpacked into the client program's directory, it puts there, side by side:
#   quillmesh-updater.exe            stripped, and signed (Authenticode) when cpack is given a
#                                    certificate
#   upd.ini.example                  the settings to copy to upd.ini
#   quillmesh-updater-readme.txt     the README's section on Windows
#   quillmesh-updater-copyright.txt  the copyright file of the Debian packages
# The text files get Windows line ends (CRLF). Their names are the updater's own, so that they
# meet none of the client program's files (a readme.txt of a release would replace a README.txt:
# Windows does not tell the two apart).
#
# Signing: cpack -D CPACK_QM_SIGNING_CERTIFICATE=<certificates, PEM> -D CPACK_QM_SIGNING_KEY=<key,
# PEM> [-D CPACK_QM_SIGNING_TIMESTAMP=<RFC 3161 time-stamping URL>] has osslsigncode sign the
# staged .exe (WindowsPackageSign.cmake) after it was stripped and before it is packed.

set(QM_WINDOWS_TEXT_DIR ${CMAKE_BINARY_DIR}/windows-package)

# Writes `text` to QM_WINDOWS_TEXT_DIR/`name` with CRLF line ends and installs it.
function(qm_install_windows_text name text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${QM_WINDOWS_TEXT_DIR}/${name} "${text}")
    install(FILES ${QM_WINDOWS_TEXT_DIR}/${name} DESTINATION . COMPONENT updater)
endfunction()

file(READ ${CMAKE_SOURCE_DIR}/packaging/windows/upd.ini.example QM_TEXT)
qm_install_windows_text(upd.ini.example "${QM_TEXT}")
file(READ ${CMAKE_SOURCE_DIR}/packaging/debian/copyright QM_TEXT)
qm_install_windows_text(quillmesh-updater-copyright.txt "${QM_TEXT}")

# The README's "## Windows" section, up to the next section of its level.
file(READ ${CMAKE_SOURCE_DIR}/README.md QM_TEXT)
string(FIND "${QM_TEXT}" "\n## Windows\n" QM_START)
if(QM_START EQUAL -1)
    message(FATAL_ERROR "README.md has no section \"## Windows\"")
endif()
math(EXPR QM_START "${QM_START} + 1")
string(SUBSTRING "${QM_TEXT}" ${QM_START} -1 QM_TEXT)
string(FIND "${QM_TEXT}" "\n## " QM_END)
string(SUBSTRING "${QM_TEXT}" 0 ${QM_END} QM_TEXT)
qm_install_windows_text(quillmesh-updater-readme.txt
    "quillmesh-updater ${PROJECT_VERSION}\n\n${QM_TEXT}\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md
    ${CMAKE_SOURCE_DIR}/packaging/windows/upd.ini.example
    ${CMAKE_SOURCE_DIR}/packaging/debian/copyright)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(QM_WINDOWS_ARCHITECTURE x86_64)
else()
    set(QM_WINDOWS_ARCHITECTURE x86)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_COMPONENTS_ALL updater)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_PACKAGE_NAME quillmesh-updater)
set(CPACK_PACKAGE_VENDOR "quillmesh")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME
    quillmesh-updater-${PROJECT_VERSION}-windows-${QM_WINDOWS_ARCHITECTURE})
# The files at the top of the archive: it is unpacked into the client program's directory.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/WindowsPackageSign.cmake)
include(CPack)
