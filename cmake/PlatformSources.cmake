# What touches the system comes in pairs, one file per platform, behind one interface: each layer
# keeps its shared sources in its own folder and the platform's beside them, in unix/ or win/.
#
#   qm_layer_sources(QM_BASE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR})
#
# sets QM_BASE_SOURCES to the layer's shared sources and those of the platform being built for.
if(WIN32)
    set(QM_PLATFORM win)
else()
    set(QM_PLATFORM unix)
endif()

function(qm_layer_sources variable directory)
    file(GLOB shared CONFIGURE_DEPENDS ${directory}/*.cpp)
    file(GLOB platform CONFIGURE_DEPENDS ${directory}/${QM_PLATFORM}/*.cpp)
    set(${variable} ${shared} ${platform} PARENT_SCOPE)
endfunction()
