# Wine for the checks of the Windows programs, sourced by scripts/lib/cross-check-windows.bash and
# scripts/lib/package-windows.bash:
#
#   use_wine PREFIX ARCH   the environment of what runs under wine: the prefix PREFIX of
#                          architecture ARCH (win64, or win32 for the 32-bit wine), no display
#   start_wine             makes the prefix on first use; keeps its server up between programs
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
    # Kept up between programs; one may be running already (wineboot leaves its own).
    wineserver -p 2>/dev/null || true
    # Without a window manager wine draws the title bars itself, so that a screenshot of the X
    # screen shows them.
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 ||
        true
}

stop_wine() {
    wineserver -k 2>/dev/null || true
}
