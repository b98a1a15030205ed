# Run by cpack once the download's files are staged and stripped (WindowsPackaging.cmake): signs
# each .exe with osslsigncode (Authenticode, SHA-256) when CPACK_QM_SIGNING_CERTIFICATE and
# CPACK_QM_SIGNING_KEY name a certificate chain and its key (PEM), with a time stamp from the
# RFC 3161 server at CPACK_QM_SIGNING_TIMESTAMP when that is set. Without a certificate the
# program is packed unsigned, and cpack says so.
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
if(NOT CPACK_QM_SIGNING_CERTIFICATE OR NOT CPACK_QM_SIGNING_KEY)
    message(WARNING "no signing certificate given: the programs are packed unsigned")
    return()
endif()
find_program(QM_OSSLSIGNCODE osslsigncode REQUIRED)
set(timestamp)
if(CPACK_QM_SIGNING_TIMESTAMP)
    set(timestamp -ts "${CPACK_QM_SIGNING_TIMESTAMP}")
endif()
foreach(program IN LISTS programs)
    execute_process(
        COMMAND "${QM_OSSLSIGNCODE}" sign -certs "${CPACK_QM_SIGNING_CERTIFICATE}"
            -key "${CPACK_QM_SIGNING_KEY}" -h sha256 -n "quillmesh updater"
            ${timestamp} -in "${program}" -out "${program}.signed"
        RESULT_VARIABLE failed
        OUTPUT_VARIABLE output
        ERROR_VARIABLE output)
    if(failed)
        message(FATAL_ERROR "osslsigncode could not sign ${program}: ${output}")
    endif()
    file(RENAME "${program}.signed" "${program}")
    message(STATUS "signed ${program}")
endforeach()
