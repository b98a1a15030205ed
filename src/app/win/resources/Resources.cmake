# The Windows program: a program of the GUI subsystem (no console window of its own) with its
# resources (the update window's template, the icon group made from the PNGs of data/icons, the
# version record from project(), the manifest), linked with the common controls for the progress
# bar.
set(QM_RESOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/win/resources)
set(QM_ICON_FILE ${CMAKE_CURRENT_BINARY_DIR}/quillmesh-updater.ico)
set(QM_MANIFEST_FILE ${CMAKE_CURRENT_BINARY_DIR}/quillmesh-updater.manifest)
set(QM_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK})

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QM_ICON_IMAGES ${CMAKE_SOURCE_DIR}/data/icons/quillmesh-updater-32.png
    ${CMAKE_SOURCE_DIR}/data/icons/quillmesh-updater-16.png)
add_custom_command(OUTPUT ${QM_ICON_FILE}
    COMMAND Python3::Interpreter ${QM_RESOURCE_DIR}/make_icon.py ${QM_ICON_FILE} ${QM_ICON_IMAGES}
    DEPENDS ${QM_RESOURCE_DIR}/make_icon.py ${QM_ICON_IMAGES}
    COMMENT "Making the program's icon from data/icons")
configure_file(${QM_RESOURCE_DIR}/quillmesh-updater.manifest ${QM_MANIFEST_FILE} @ONLY)
configure_file(${QM_RESOURCE_DIR}/quillmesh-updater.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/quillmesh-updater.rc @ONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/quillmesh-updater.rc PROPERTIES
    OBJECT_DEPENDS "${QM_ICON_FILE};${QM_MANIFEST_FILE};${CMAKE_CURRENT_SOURCE_DIR}/win/resource_ids.h")

target_sources(quillmesh-updater PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/quillmesh-updater.rc)
target_include_directories(quillmesh-updater PRIVATE ${CMAKE_SOURCE_DIR}/src)
set_target_properties(quillmesh-updater PROPERTIES WIN32_EXECUTABLE ON)
target_link_libraries(qm_app PUBLIC comctl32)
