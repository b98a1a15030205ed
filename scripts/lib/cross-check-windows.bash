# The cross check for Windows, sourced by scripts/cross-check: builds the updater and its tests
# for Windows with mingw-w64 in build-windows/ (64-bit) or build-windows-x86/ (32-bit), checks
# that the .exe imports only system DLLs, runs the tests under wine (one wine process per test
# program, one wine server for the whole check), then has the .exe, under wine, bring client
# directories up to date from the Linux reference server on loopback: with plain lines, in its
# window on an X server of its own (screenshots in the build directory's screenshots/), and
# through the end-to-end and hostile-server tests that the Linux build runs against its own
# binary. The 32-bit check stops after the plain lines unless asked for all of it.
#
# Uses from scripts/cross-check: repo, arch (windows or windows-x86), parts, triplet, machine,
# jobs, warnings_as_errors, step, fail.

build="$repo/build-$arch"
toolchain="$repo/cmake/$triplet.cmake"
# The Linux build whose server and test programs drive the .exe; CI's scripts/test made it.
host_build="${QM_HOST_BUILD:-$repo/build}"
# Addresses of tests/support/addresses.h, one block for each word size, so that both checks can
# run at the same time.
case "$arch" in
    windows)
        address=127.0.6.1         # WindowsPlainRun
        window_address=127.0.6.2  # WindowsWindowRun
        silent_address=127.0.6.3  # WindowsSilentServer
        wine_arch=win64
        ;;
    windows-x86)
        address=127.0.9.1         # WindowsX86PlainRun
        window_address=127.0.9.2  # WindowsX86WindowRun
        silent_address=127.0.9.3  # WindowsX86SilentServer
        wine_arch=win32
        ;;
esac
screenshots="$build/screenshots"

# ---- Wine: one prefix for the check, one server kept up between its programs ----------------

source "$repo/scripts/lib/wine.bash"
use_wine "$build/wine" "$wine_arch"

# The updater under wine, as the Linux tests start a program: a script that runs the .exe.
make_wine_launcher() {
    local launcher="$1" exe="$2"
    cat >"$launcher" <<LAUNCHER
#!/bin/sh
# quillmesh-updater.exe under wine, started as the Linux tests start their updater.
exec wine "$exe" "\$@"
LAUNCHER
    chmod 755 "$launcher"
}

# ---- Build -------------------------------------------------------------------------------------

configure() {
    local source="$1" dir="$2"
    shift 2
    local generator=()
    if [[ ! -f $dir/CMakeCache.txt ]] && command -v ninja >/dev/null; then
        generator=(-G Ninja)
    fi
    cmake -S "$source" -B "$dir" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

step "building GoogleTest for Windows from Debian's sources"
googletest="$build/googletest"
if [[ ! -f $googletest/installed/lib/cmake/GTest/GTestConfig.cmake ]]; then
    configure /usr/src/googletest "$googletest/build" -DBUILD_GMOCK=OFF \
        -Dgtest_disable_pthreads=OFF -DCMAKE_INSTALL_PREFIX="$googletest/installed"
    cmake --build "$googletest/build" -j "$jobs" >/dev/null
    cmake --install "$googletest/build" >/dev/null
fi

step "building the updater and its tests for Windows (Release, $build)"
configure "$repo" "$build" -DQM_BENCHMARKS=OFF -DGTest_DIR="$googletest/installed/lib/cmake/GTest" \
    -DCMAKE_COMPILE_WARNING_AS_ERROR="$warnings_as_errors"
cmake --build "$build" -j "$jobs"
exe="$build/src/app/quillmesh-updater.exe"
recorder="$build/tests/quillmesh-launch-recorder.exe"

step "building the Linux server and the tests that drive the .exe ($host_build)"
if [[ ! -f $host_build/CMakeCache.txt ]]; then
    cmake -S "$repo" -B "$host_build" -DQM_BENCHMARKS=OFF >/dev/null
fi
cmake --build "$host_build" -j "$jobs" --target quillmesh-update-server test_e2e test_faults
server="$host_build/tools/quillmesh-update-server"

# ---- The program file --------------------------------------------------------------------------

step "the .exe: a Windows program of the GUI subsystem importing only system DLLs"
file -b "$exe"
[[ $(file -b "$exe") == *"$machine"* ]] || fail "not a GUI program of the target ($machine)"
# The system's DLLs as wine has them: in the prefix; without the 32-bit wine, the names of the
# 64-bit wine's own (a system DLL has the same name for both).
if wine_runs "$wine_arch" >/dev/null; then
    wine_here=1
    start_wine
    system32="$WINEPREFIX/drive_c/windows/system32"
else
    wine_here=0
    system32="/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
fi
imports="$($triplet-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p')"
echo "$imports" | sed 's/^/  imports /'
while read -r dll; do
    [[ -n $(find "$system32" -maxdepth 1 -iname "$dll" -print -quit) ]] ||
        fail "$dll is no system DLL"
done <<<"$imports"
$triplet-windres --input-format=coff --output-format=rc -i "$exe" 2>/dev/null |
    sed -n '/^LANGUAGE/p;/DIALOG\|ICON\|VERSIONINFO\|MANIFEST\|^[0-9]* 24/p' | sed 's/^/  /' || true

# ---- Tests under wine --------------------------------------------------------------------------

if ((!wine_here)); then
    wine_runs "$wine_arch" || true
    echo "cross-check $arch: the .exe built and checked; its tests and updates under wine NOT RUN"
    exit 0
fi
step "the tests under wine (one wine process per test program)"
(cd "$build" && timeout 1200 ctest --output-on-failure -j 1) || fail "tests under wine failed"

# ---- Whole updates of the .exe under wine ------------------------------------------------------

source "$repo/scripts/lib/sample-release.bash"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/quillmesh-cross-check-windows.XXXXXX")"
xvfb_pid=""
cleanup() {
    stop_sample_server
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    stop_wine
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

launcher="$build/quillmesh-updater-under-wine"
make_wine_launcher "$launcher" "$exe"
export QM_LAUNCHES="$scratch/launches.log"  # where the stand-in client program says it started
: >"$QM_LAUNCHES"
QM_LAUNCHES_WINDOWS="$(winepath -w "$QM_LAUNCHES" 2>/dev/null)"

# The release and the client directory as the Linux cross check makes them, with the stand-in
# client program as quillmesh.exe: the release's differs from the client's by its last bytes.
make_windows_release() {
    local release="$1" client="$2" address="$3"
    make_sample_release "$release" "$scratch/obsolete.txt" "$QM_LAUNCHES"
    rm -f "$release/quillmesh"
    { cat "$recorder"; printf 'version 2.0'; } >"$release/quillmesh.exe"
    if [[ -n $client ]]; then
        make_outdated_client "$client" "$release" "$address" "$QM_LAUNCHES"
        rm -f "$client/quillmesh"
        { cat "$recorder"; printf 'version 1.0'; } >"$client/quillmesh.exe"
        printf '[GENERAL]\r\nSERVER=%s\r\nEXE=quillmesh\r\n' "$address" >"$client/upd.ini"
    fi
}

# Whether the client holds exactly the release and the new program was started with UPDATED.
check_windows_client() {
    local client="$1" release="$2"
    diff -r -x upd.ini -x crc.ini "$release" "$client" >&2 || return 1
    [[ -s $client/crc.ini ]] || return 1
    for _ in $(seq 100); do
        grep -q "started with arguments: UPDATED" "$QM_LAUNCHES" && return 0
        sleep 0.1
    done
    echo "the updated program was not started" >&2
    return 1
}

run_update() {
    local client="$1" log="$2"
    shift 2
    local status=0
    (cd "$client" && QM_LAUNCHES="$QM_LAUNCHES_WINDOWS" timeout 120 "$@" "$launcher" \
        </dev/null >"$log" 2>&1) || status=$?
    grep -v -E '^(transfer|progress):' "$log" | sed 's/^/  /'
    return "$status"
}

release="$scratch/release"
make_windows_release "$release" "" ""
step "serving a sample release on $address with the Linux server"
start_sample_server "$scratch/server.log" "$release" "$scratch/obsolete.txt" "$address" \
    timeout 900 "$server" || fail "the server did not start"

for kind in outdated empty; do
    step "updating an $kind client directory with the .exe under wine (plain lines)"
    client="$scratch/client-$kind"
    : >"$QM_LAUNCHES"
    make_outdated_client "$client" "$release" "$address" "$QM_LAUNCHES"
    rm -f "$client/quillmesh"
    { cat "$recorder"; printf 'version 1.0'; } >"$client/quillmesh.exe"
    if [[ $kind == empty ]]; then
        find "$client" -mindepth 1 ! -name upd.ini -delete
    fi
    printf '[GENERAL]\r\nSERVER=%s\r\nEXE=quillmesh\r\n' "$address" >"$client/upd.ini"
    run_update "$client" "$scratch/updater-$kind.log" env || fail "the .exe ended with an error"
    check_windows_client "$client" "$release" || fail "the $kind client is not up to date"
    sed 's/^/  crc.ini: /' "$client/crc.ini"
done
stop_sample_server

if [[ $arch == windows-x86 && $parts != all ]]; then
    echo "cross-check $arch: the .exe built, its tests passed under wine, it completed the updates"
    echo "(the window and the end-to-end tests against it: scripts/cross-check $arch all)"
    return 0
fi

# ---- The window, on an X server of its own ------------------------------------------------------

# A picture of the X screen (OUT.png) and of the window titled TITLE alone (WINDOW.png). Wine
# draws a message box, but where it overlaps another of wine's windows the screen's image under
# Xvfb shows black: the box's own X window holds the picture, which is laid over the screen's.
screen_with_window() {
    local title="$1" out="$2" window="$3"
    local line id position x y
    line="$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | head -1)"
    id="$(awk '{print $1}' <<<"$line")"
    position="$(awk '{print $NF}' <<<"$line")"  # +X+Y on the screen
    x="${position#+}" && x="${x%%+*}" && y="${position##*+}"
    xwd -root -silent >"$scratch/screen.xwd"
    if [[ -n $id ]] && xwd -id "$id" -silent >"$scratch/window.xwd"; then
        "$repo/scripts/lib/xwd-to-png" "$scratch/window.xwd" "$window"
        "$repo/scripts/lib/xwd-to-png" "$scratch/screen.xwd" "$out" --over "$scratch/window.xwd" \
            "$x" "$y"
    else
        "$repo/scripts/lib/xwd-to-png" "$scratch/screen.xwd" "$out"
    fi
}

step "the window under Xvfb (screenshots in ${screenshots#"$repo"/})"
mkdir -p "$screenshots"
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
export DISPLAY="$display"
start_wine

step "stop requests while a box is open, on the X server (tests/win/stop_request_test.cpp)"
stop_log="$scratch/stop-requests.log"
(cd "$build/tests" && timeout 300 wine ./test_windows.exe --gtest_brief=1 \
    --gtest_filter='StopRequests.*') >"$stop_log" 2>&1 || { cat "$stop_log" >&2; fail "stop requests"; }
grep -q '^\[  PASSED  \] 1 test' "$stop_log" || { cat "$stop_log" >&2; fail "no window for them"; }
tail -1 "$stop_log" | sed 's/^/  /'

# A server that accepts and says nothing: the window stays on "connection succesfull".
python3 - "$silent_address" "$scratch/silent.ready" >/dev/null 2>&1 <<'SILENT' &
import socket, sys, time
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind((sys.argv[1], 34005))
listener.listen(1)
open(sys.argv[2], "w").close()
connection, _ = listener.accept()
time.sleep(30)
SILENT
silent_pid=$!
for _ in $(seq 50); do [[ -f $scratch/silent.ready ]] && break; sleep 0.1; done
silent_client="$scratch/client-silent"
mkdir -p "$silent_client"
printf '[GENERAL]\r\nSERVER=%s\r\nTIMEOUT=20\r\n' "$silent_address" >"$silent_client/upd.ini"
(cd "$silent_client" && timeout 60 "$launcher" >/dev/null 2>&1) &
window_run=$!
for _ in $(seq 100); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Checking your version ..."' && break
    sleep 0.1
done
sleep 3
xwd -root -silent >"$scratch/window.xwd"
"$repo/scripts/lib/xwd-to-png" "$scratch/window.xwd" "$screenshots/window-under-wine.png"
echo "  ${screenshots#"$repo"/}/window-under-wine.png"
xdotool search --name 'Checking your version' key Escape >/dev/null 2>&1 || true
sleep 2
screen_with_window "Program exit" "$screenshots/box-program-exit-under-wine.png" \
    "$screenshots/box-program-exit.png"
wine "$build/tests/quillmesh-window-picture.exe" "Program exit" \
    "$(winepath -w "$screenshots/box-program-exit.bmp")" >/dev/null 2>&1 || true
xdotool search --name 'Program exit' key Return >/dev/null 2>&1 || true
wait "$window_run" || true
kill "$silent_pid" 2>/dev/null || true

step "updating an outdated client directory with the .exe in its window"
window_release="$scratch/window-release"
window_client="$scratch/client-window"
make_windows_release "$window_release" "$window_client" "$window_address"
printf '[GENERAL]\r\nSERVER=%s\r\n' "$window_address" >"$window_client/upd.ini"  # no EXE: a box
start_sample_server "$scratch/window-server.log" "$window_release" "$scratch/obsolete.txt" \
    "$window_address" timeout 900 "$server" || fail "the server did not start"
(cd "$window_client" && timeout 120 "$launcher" >/dev/null 2>&1) &
window_run=$!
for _ in $(seq 300); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Update successfull."' && break
    sleep 0.1
done
sleep 2
screen_with_window "Update successfull." "$screenshots/box-update-successful-under-wine.png" \
    "$screenshots/box-update-successful.png"
wine "$build/tests/quillmesh-window-picture.exe" "Update successfull." \
    "$(winepath -w "$screenshots/box-update-successful.bmp")" >/dev/null 2>&1 || true
echo "  ${screenshots#"$repo"/}/box-update-successful-under-wine.png, box-update-successful.png"
xdotool search --name 'Update successfull.' key Return >/dev/null 2>&1 || true
status=0
wait "$window_run" || status=$?
((status == 0)) || fail "the .exe in its window ended with exit status $status"
diff -r -x upd.ini -x crc.ini -x quillmesh.exe "$window_release" "$window_client" >&2 ||
    fail "the window's client is not up to date"
stop_sample_server
unset DISPLAY
kill "$xvfb_pid" 2>/dev/null || true
xvfb_pid=""
# Wine's processes of the window step keep the X display that is gone: a new server without one
# (start_wine ends the one that is up), or the first programs of the tests below wait for it (10 s
# and more, "no connection").
start_wine
# The new server's first program starts wine's own services; the four test programs below, each
# starting updaters at once, met that start-up on a fresh machine (a first test saw no connection
# within 10 s, every time). One run that ends at once (no upd.ini: exit 2) takes it first.
mkdir -p "$scratch/first-program"
status=0
(cd "$scratch/first-program" && timeout 120 "$launcher" >/dev/null 2>&1) || status=$?
((status == 2)) || fail "the .exe without upd.ini ended with exit status $status, not 2"

# ---- The Linux end-to-end and hostile-server tests, against the .exe ---------------------------

step "the end-to-end and hostile-server tests against the .exe under wine"
# Left out: what needs a POSIX feature: signals as the cancel command (SIGINT, SIGTERM; wine ends
# a program of the GUI subsystem on them; Retry.NotForWhatANewConnectionCannotMend cancels a wait
# with SIGTERM), permission bits (Windows keeps none in the file) and another user (the commit
# that fails half way runs the updater as nobody in a directory it may not change; wine refuses
# a prefix that is not the user's own).
# Of the hostile-server tests, the one whose client directories hold symbolic links: wine sees a
# link to a directory as the directory itself, which is never replaced.
e2e_excluded="Abort.InterruptSignalCancelsTheRun:Abort.TerminateSignalCancelsTheRun"
e2e_excluded+=":Download.ReplacementKeepsThePermissionBits"
e2e_excluded+=":Resume.ACancelledOrKilledDownloadGoesOnFromTheFirstChunkItLacks"
e2e_excluded+=":Retry.NotForWhatANewConnectionCannotMend"
e2e_excluded+=":WholeRun.ACommitThatFailsHalfWayIsCompletedByTheNextRunBeforeItConnects"
faults_excluded="HostileServer.PathsOutOfTheClientDirectoryReachNothingOutside"
export QM_UPDATER_BINARY="$launcher"
# Each test has addresses of its own: three shards at once, as ctest runs them on Linux.
shards=3
pids=()
for ((shard = 0; shard < shards; ++shard)); do
    GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard timeout 1200 \
        "$host_build/tests/test_e2e" --gtest_brief=1 --gtest_filter="-$e2e_excluded" \
        >"$scratch/e2e-$shard.log" 2>&1 &
    pids+=($!)
done
timeout 1200 "$host_build/tests/test_faults" --gtest_brief=1 \
    --gtest_filter="HostileServer.*:-$faults_excluded" >"$scratch/faults.log" 2>&1 &
pids+=($!)
failed=0
for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
done
cat "$scratch"/e2e-*.log "$scratch/faults.log" | grep -E '^\[  (PASSED|FAILED) |tests ran' || true
if ((failed)); then
    cat "$scratch"/e2e-*.log "$scratch/faults.log" >&2
    fail "the end-to-end or hostile-server tests failed against the .exe"
fi

source "$repo/scripts/lib/cross-check-windows-tls.bash"

echo "cross-check $arch: the .exe built, its tests passed under wine, it completed the updates"
