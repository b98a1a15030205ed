# The project's warnings. They are attached to the project's own targets, never to the whole
# directory tree, and are errors only where asked for with -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
# (CI does so), so that another compiler's new warnings never break a packager's build.
#
#   include(cmake/ProjectWarnings.cmake)
#   ...  every add_subdirectory  ...
#   qm_attach_warnings(${CMAKE_CURRENT_SOURCE_DIR})
add_library(qm_warnings INTERFACE)
target_compile_options(qm_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
# GCC 12 reports a false -Wrestrict inside libstdc++'s operator+ of std::string at -O3 (fixed in
# GCC 13): a warning there, never an error.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(qm_warnings INTERFACE -Wno-error=restrict)
endif()

# Links qm_warnings to every target that compiles code in `directory` and the directories below
# it, so that a new library, program or test gets the same warnings without being listed here.
function(qm_attach_warnings directory)
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
            target_link_libraries(${target} PRIVATE qm_warnings)
        endif()
    endforeach()
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    foreach(subdirectory IN LISTS subdirectories)
        qm_attach_warnings(${subdirectory})
    endforeach()
endfunction()
