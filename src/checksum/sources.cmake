# The checksum library's sources for the processor being built for. The carry-less engines are
# x86-64 code (PCLMULQDQ, VPCLMULQDQ); on any other processor their stand-ins take their place,
# which report them unsupported, so the table engine serves. Also used by the fuzz build.
qm_layer_sources(QM_CHECKSUM_SOURCES ${CMAKE_CURRENT_LIST_DIR})
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    list(FILTER QM_CHECKSUM_SOURCES EXCLUDE REGEX "/crc32_carryless_stand_in\\.cpp$")
else()
    list(FILTER QM_CHECKSUM_SOURCES EXCLUDE REGEX "/crc32_(wide_)?carryless\\.cpp$")
endif()
