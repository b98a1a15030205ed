# The tests of the Windows build, run under wine (scripts/cross-check windows), each test program
# in one wine process (CMAKE_CROSSCOMPILING_EMULATOR), not one per case.
#
# Each folder's Linux tests are built here as they are, on the test support's Windows pairs
# (scratch directories, tree snapshots; posix_features.h). A case that needs what Windows lacks
# skips itself with the reason (QM_SKIP_WITHOUT); a file that needs it throughout is left out
# below, with the reason. What Windows does its own way is tested in tests/win: the message loop,
# the path rules, replacements and the run lock, working file names and their short aliases, the
# launch, and the profile files beside the system's.
#
# Left out, whole files:
#   base/directory_lock_test.cpp     forks a holder and kills it (tests/win: the Windows lock)
#   app/program_launch_test.cpp      POSIX shell scripts, sessions, /proc (tests/win: the launch)
#   app/terminal_view_test.cpp       a POSIX terminal (termios); Windows has no terminal view
#   net/poll_event_loop_test.cpp     the poll loop itself, with pipes (Windows runs the message
#                                    loop, whose own tests are in tests/win)
#   net/portwell_test.cpp            descriptor flags (fcntl), socket options and peers of raw
#                                    descriptors, the POSIX name lookup; the socket layer on the
#                                    message loop is tested in tests/win/message_loop_test.cpp
#   net/posix_socket_helpers.cpp     the helpers of those two
# Cases that skip themselves on Windows (the reason is in their output):
#   checksum: FileCrc32Test.APipeIsReadToItsEnd, FilePassTest.InTurnTakesShortReadsFromAPipe
#             (named pipes, mkfifo); EachPassAndEngine.AReadErrorEndsThePassLikeTheEnd (6 cases:
#             a directory opened as a file, which CreateFileW refuses before any read)
#   store:    PathCheckTest.DirectoryLinkPointingOutsideIsRefused, .DirectoryLinkToTheParentIsRefused,
#             .LinksThatStayInsideAreAccepted, .FinalComponentMayBeALinkToAnywhere (symbolic
#             links; tests/win: reparse points), ProfileFileTest.FailedWriteKeepsTheOldFile (a
#             file size limit)
#   update:   Download.NewFileGetsTheDefaultMode (permission bits, umask),
#             Download.AWriteFailureIsReportedAndKeepsTheOldFile (a file size limit)
#   app:      the "program starts" case of UpdateDialogTest.FinishRunEndings (a #! script as the
#             client program; tests/win starts a Windows program)
#   windows:  StopRequests.EndTheOpenBoxAndCancelOnceItHasGone without a desktop (the cross check
#             runs it again on its X server, where it must pass)
# Checks inside other cases are made only where the platform has what they look at: the
# permission bits in Download.ReplacesTheTargetInOneStepKeepingItsMode and
# ProfileFileTest.WritingCreatesAMissingFile and .WritingReplacesTheValueInPlace, the symbolic
# link in Download.LeftoversOfAKilledRunAreRemoved; PathCheckTest.JudgesThePathText expects
# "dir:colon/x" refused on Windows (a stream).
# Not built for Windows at all: tls (OpenSSL at both ends; Schannel's own tests are in
# tests/win), tools and integration (the reference server is a POSIX program), app_qt (Qt). The end-to-end and hostile-server tests run on Linux with the .exe
# under wine as their program (scripts/cross-check windows).
set(QM_TESTS ${CMAKE_CURRENT_SOURCE_DIR})

# The test program of one folder: its Linux tests less `EXCLUDED` (file names), plus `SOURCES`.
function(qm_add_windows_test_program name)
    cmake_parse_arguments(PARSE_ARGV 1 QM "" "FOLDER" "EXCLUDED;SOURCES;LIBRARIES")
    set(sources ${QM_SOURCES})
    if(QM_FOLDER)
        file(GLOB folder_sources CONFIGURE_DEPENDS ${QM_TESTS}/${QM_FOLDER}/*.cpp)
        foreach(excluded IN LISTS QM_EXCLUDED)
            list(REMOVE_ITEM folder_sources ${QM_TESTS}/${QM_FOLDER}/${excluded})
        endforeach()
        list(APPEND sources ${folder_sources})
    endif()
    add_executable(${name} ${sources})
    target_include_directories(${name} PRIVATE ${QM_TESTS} ${QM_TESTS}/support/win)
    target_link_libraries(${name} PRIVATE ${QM_LIBRARIES} qm_test_support GTest::gtest
        GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
endfunction()

qm_add_windows_test_program(test_checksum FOLDER checksum LIBRARIES qm_checksum)
qm_add_windows_test_program(test_update FOLDER update LIBRARIES qm_update)
qm_add_windows_test_program(test_store FOLDER store LIBRARIES qm_store)
qm_add_windows_test_program(test_base FOLDER base EXCLUDED directory_lock_test.cpp
    LIBRARIES qm_base)
qm_add_windows_test_program(test_net FOLDER net
    EXCLUDED portwell_test.cpp poll_event_loop_test.cpp posix_socket_helpers.cpp
    LIBRARIES qm_net)
qm_add_windows_test_program(test_app FOLDER app
    EXCLUDED program_launch_test.cpp terminal_view_test.cpp
    LIBRARIES qm_app)

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
# The program's resources (the update window's template), for the tests of the window itself.
target_sources(test_windows PRIVATE ${PROJECT_BINARY_DIR}/src/app/quillmesh-updater.rc)
