# Pinned TLS of the Windows program, sourced by scripts/lib/cross-check-windows.bash once the .exe
# has passed its plain runs: the Linux TLS tests (tests/integration/tls_test.cpp) run again with
# the .exe under wine as their updater, on addresses of their own (127.0.8.N), against the Linux
# reference server with a fresh key: the right pin, the second pin of two, another key, a plain
# server, a cipher without forward-secret AEAD, a handshake that never ends (10 s), the WELCOME
# that comes with the handshake's last flight, a renegotiation asked for mid-download.
#
# Wine's Schannel is built on GnuTLS (libgnutls30, which scripts/setup installs for it) and is not
# Windows's: it speaks TLS 1.2 alone, checks no certificate and ignores the ciphers it is asked to
# leave out. What the program asks of Schannel is checked as values in tests/win/schannel_test.cpp.
#
# Uses from the cross check: repo, jobs, host_build, launcher, scratch, step, fail.

step "pinned TLS: the Linux TLS tests against the .exe under wine"
cmake --build "$host_build" -j "$jobs" --target test_integration quillmesh-update-server
tls_log="$scratch/tls-under-wine.log"
if ! QM_UPDATER_BINARY="$launcher" QM_UPDATER_UNDER_WINE=1 timeout 600 \
    "$host_build/tests/test_integration" --gtest_brief=1 --gtest_filter='PinnedClient.*' \
    >"$tls_log" 2>&1; then
    cat "$tls_log" >&2
    fail "the TLS tests failed against the .exe"
fi
grep -E '^\[  (PASSED|FAILED) |tests? ran' "$tls_log" | sed 's/^/  /' || true
