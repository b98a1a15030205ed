# Wine for the checks of the Windows programs, sourced by scripts/lib/cross-check-windows.bash and
# scripts/lib/package-windows.bash:
#
#   use_wine PREFIX ARCH   the environment of what runs under wine: the prefix PREFIX of
#                          architecture ARCH (win64, or win32 for the 32-bit wine), no display
#   start_wine             makes the prefix on first use; starts its server, which stays up
#                          between programs
#   stop_wine              ends the prefix's server
#
# Uses the caller's fail.

use_wine() {
    export WINEPREFIX="$1"
    export WINEARCH="$2"
    export WINEDEBUG=-all
    # No menu entries or file associations in $HOME; no Mono or Gecko installer prompts.
    export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
}

start_wine() {
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        # A prefix left half made would be taken as made by the next run.
        if ! timeout 300 wineboot -i >/dev/null 2>&1; then
            rm -rf "$WINEPREFIX"
            fail "wine could not make its prefix $WINEPREFIX"
        fi
    fi
    # One server for all the programs of the check, kept up between them. The server that
    # wineboot or a first program starts ends as soon as no program runs (Debian's wineserver
    # starts it with -p0), and a program that starts while it ends fails at once ("wine client
    # error:0: recvmsg: Connection reset by peer"; a test program under CI did). So whatever server
    # is up is ended first (no program of the check runs here), and `wineserver -p` fails unless
    # it starts the one that stays.
    stop_wine
    timeout 60 wineserver -w 2>/dev/null || true
    timeout 60 wineserver -p || fail "the wine server of $WINEPREFIX did not start"
    # Without a window manager wine draws the title bars itself, so that a screenshot of the X
    # screen shows them.
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 ||
        true
}

# Whether the wine of ARCH can run here. The 32-bit wine needs packages of the i386 architecture
# in the same versions as the machine's own, which scripts/setup cannot install while the package
# lists lack them (a mirror in the middle of a sync), and a kernel that runs 32-bit x86 programs,
# which some hosts turn off. A check then fails, unless QM_WINE32_OPTIONAL=1 (CI) lets it go on
# without the runs under the 32-bit wine: it says so in a line that starts with "NOT RUN".
wine_runs() {
    [[ $1 != win32 ]] && return 0
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
        [[ ${QM_WINE32_OPTIONAL:-0} == 1 ]] || fail "the 32-bit wine (wine32:i386) is not installed"
        echo "NOT RUN under the 32-bit wine: wine32:i386 could not be installed (scripts/setup above)"
        return 1
    fi
    /usr/lib/wine/wine --version >/dev/null 2>&1 ||
        fail "the 32-bit wine is installed but does not run (does the kernel run 32-bit programs?)"
}

stop_wine() {
    wineserver -k 2>/dev/null || true
}
