# A sample release of the client program, an outdated client directory for it, and the reference
# update server serving the release. Sourced by scripts/demo and scripts/cross-check.
#
#   make_sample_release RELEASE OBSOLETE LAUNCHES
#   make_outdated_client CLIENT RELEASE SERVER_ADDRESS LAUNCHES
#   start_sample_server LOG RELEASE OBSOLETE ADDRESS COMMAND...   (sets sample_server_pid)
#   stop_sample_server
#   check_updated_client CLIENT RELEASE LAUNCHES
#
# The caller removes its scratch directory and calls stop_sample_server on every way out.

sample_server_pid=""

# A file of `size` random bytes.
make_file() {
    local path="$1" size="$2"
    mkdir -p "$(dirname "$path")"
    head -c "$size" /dev/urandom >"$path"
}

# The sample client program: says that it was started, and with which arguments, and adds that
# line to `launches`.
make_program() {
    local path="$1" version="$2" launches="$3"
    mkdir -p "$(dirname "$path")"
    cat >"$path" <<PROGRAM
#!/bin/sh
echo "quillmesh $version started with arguments: \$*" | tee -a "$launches"
PROGRAM
    chmod 755 "$path"
}

# Version 2.0 of the client program and its files; `obsolete` lists the one file that updaters
# must delete.
make_sample_release() {
    local release="$1" obsolete="$2" launches="$3"
    make_program "$release/quillmesh" 2.0 "$launches"
    make_file "$release/readme.txt" 1500
    make_file "$release/data/maps/town.map" 250000
    make_file "$release/data/maps/forest.map" 120000
    make_file "$release/data/rules/combat.txt" 4054
    make_file "$release/gfx/icons/app.png" 2027
    make_file "$release/gfx/logo.png" 30000
    make_file "$release/sound/music/theme.ogg" 600000
    printf 'data/maps/old-tiles.dat\n' >"$obsolete"
}

# Version 1.0 of the client directory: one file up to date, two outdated, the rest missing, and
# the obsolete file still there. Its upd.ini names `address` as the server.
make_outdated_client() {
    local client="$1" release="$2" address="$3" launches="$4"
    mkdir -p "$client"
    printf '[GENERAL]\nSERVER=%s\nEXE=./quillmesh\n' "$address" >"$client/upd.ini"
    make_program "$client/quillmesh" 1.0 "$launches"
    make_file "$client/readme.txt" 1400
    make_file "$client/data/maps/town.map" 240000
    cp "$release/data/maps/forest.map" "$client/data/maps/forest.map"
    make_file "$client/data/maps/old-tiles.dat" 8000
}

# Starts COMMAND (the server program, possibly behind an emulator) serving `release` on
# `address`, its messages in `log`, and waits until it listens (at most 20 s).
start_sample_server() {
    local log="$1" release="$2" obsolete="$3" address="$4"
    shift 4
    "$@" --root "$release" --delete "$obsolete" --listen "$address" >"$log" 2>&1 &
    sample_server_pid=$!
    for _ in $(seq 200); do
        grep -q "listening on" "$log" && return 0
        kill -0 "$sample_server_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "the server did not start:" >&2
    sed 's/^/  /' "$log" >&2
    return 1
}

# Stops the server (SIGTERM) and waits for it; nothing if it is not running.
stop_sample_server() {
    if [[ -n $sample_server_pid ]] && kill -0 "$sample_server_pid" 2>/dev/null; then
        kill "$sample_server_pid" 2>/dev/null || true
        wait "$sample_server_pid" 2>/dev/null || true
    fi
    sample_server_pid=""
}

# Whether the client directory holds exactly the release's files (besides its upd.ini and
# crc.ini), the obsolete file is gone, crc.ini was written and the new program was started.
# Says what is wrong on standard error.
check_updated_client() {
    local client="$1" release="$2" launches="$3" good=0
    if ! diff -r -x upd.ini -x crc.ini "$release" "$client" >&2; then
        echo "the client directory differs from the release" >&2
        good=1
    fi
    if [[ ! -s $client/crc.ini ]]; then
        echo "no crc.ini was written" >&2
        good=1
    fi
    local started=1
    for _ in $(seq 50); do
        grep -q "quillmesh 2.0 started with arguments: UPDATED" "$launches" && started=0 && break
        sleep 0.1
    done
    if ((started != 0)); then
        echo "the updated program was not started" >&2
        good=1
    fi
    return "$good"
}
