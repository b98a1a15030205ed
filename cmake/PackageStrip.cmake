# Run by cpack once the packages' files are staged: removes the compiler's notes (.comment,
# .note) from every ELF file, which CPack's own strip leaves, as Debian's packaging tools do.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS staged)
    if(IS_SYMLINK "${file}")
        continue()
    endif()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
        execute_process(
            COMMAND "${CPACK_QM_OBJCOPY}" --remove-section=.comment --remove-section=.note "${file}"
            RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "cannot strip ${file}")
        endif()
    endif()
endforeach()
