# The tests of the Windows build, run under wine (scripts/cross-check windows), each test program
# in one wine process (CMAKE_CROSSCOMPILING_EMULATOR), not one per case.
#
# The Linux suites' files that need nothing of POSIX are built here as they are; the others need
# a POSIX feature (fork, signals, socket pairs, poll, permission bits, symbolic links, the
# terminal, /proc) and are left out, each folder's list saying why. What Windows does its own way
# is tested in tests/win: the message loop, the path rules, replacements and the run lock, working
# file names and their short aliases, the launch, and the profile files beside the system's.
#
# Not built for Windows: net (socket pairs and the poll loop; the message loop's own tests are in
# tests/win), app (the plain view writes to a memory stream, the terminal view needs a terminal,
# the dialog tests run on the poll loop with socket pairs, the settings and launch tests on POSIX
# scratch directories and execute bits), tls (OpenSSL at both ends; Schannel's in tests/win), tools
# and integration (the reference server is a POSIX program), app_qt (Qt). The end-to-end and
# hostile-server tests run on Linux with the .exe under wine as their program (scripts/cross-check
# windows).
add_library(qm_test_support_win STATIC ${CMAKE_CURRENT_SOURCE_DIR}/support/wire.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/support/crc32.cpp)
target_include_directories(qm_test_support_win PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(qm_test_support_win PUBLIC ws2_32)

function(qm_add_windows_test_program name)
    cmake_parse_arguments(PARSE_ARGV 1 QM "" "" "SOURCES;LIBRARIES")
    add_executable(${name} ${QM_SOURCES})
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${QM_LIBRARIES} qm_test_support_win GTest::gtest
        GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
endfunction()

set(QM_TESTS ${CMAKE_CURRENT_SOURCE_DIR})
# checksum: checksum_test and crc32_file_reading_test make unreadable files with POSIX permission
# bits (chmod) in scratch directories of the POSIX test support.
qm_add_windows_test_program(test_checksum
    SOURCES ${QM_TESTS}/checksum/crc32_engine_test.cpp
            ${QM_TESTS}/checksum/crc32_segment_combiner_test.cpp
    LIBRARIES qm_checksum)
# update: the session, download, checksum record and connection tests run on the POSIX test
# support (scratch directories with permission bits, file size limits, socket pairs, poll).
qm_add_windows_test_program(test_update
    SOURCES ${QM_TESTS}/update/messages_test.cpp ${QM_TESTS}/update/server_messages_test.cpp
            ${QM_TESTS}/update/display_text_test.cpp
    LIBRARIES qm_update)
# store: the path check's own tests make symbolic links; the directory chain and profile tests
# run in scratch directories of the POSIX test support. Windows' own rules are in tests/win.
qm_add_windows_test_program(test_store
    SOURCES ${QM_TESTS}/store/windows_name_rules_test.cpp
    LIBRARIES qm_store)
# base: the lock test forks; tests/win has the Windows lock's own.
qm_add_windows_test_program(test_base
    SOURCES ${QM_TESTS}/base/aligned_buffer_test.cpp
    LIBRARIES qm_base)

# Two programs of the cross check: a stand-in for the client program, and pictures of windows.
add_executable(quillmesh-launch-recorder ${QM_TESTS}/win/launch_recorder.cpp)
set_target_properties(quillmesh-launch-recorder PROPERTIES WIN32_EXECUTABLE ON)
add_executable(quillmesh-window-picture ${QM_TESTS}/win/window_picture.cpp)
target_link_options(quillmesh-window-picture PRIVATE -municode)
target_link_libraries(quillmesh-window-picture PRIVATE gdi32)
file(GLOB QM_WINDOWS_TEST_SOURCES CONFIGURE_DEPENDS ${QM_TESTS}/win/*.cpp)
list(REMOVE_ITEM QM_WINDOWS_TEST_SOURCES ${QM_TESTS}/win/launch_recorder.cpp
    ${QM_TESTS}/win/window_picture.cpp)
qm_add_windows_test_program(test_windows
    SOURCES ${QM_WINDOWS_TEST_SOURCES}
    LIBRARIES qm_app shell32 ws2_32)
add_dependencies(test_windows quillmesh-launch-recorder quillmesh-updater)
