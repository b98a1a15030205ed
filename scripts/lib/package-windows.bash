# The downloads for Windows, sourced by scripts/package windows: builds the updater for 64-bit and
# for 32-bit Windows (Release; in the cross check's build directory when there is one, else
# without tests in build-package-windows/<architecture>/), makes a throwaway certificate authority
# and a code-signing certificate issued by it, has cpack make
# quillmesh-updater-<version>-windows-x86_64.zip and -windows-x86.zip with the .exe signed by
# osslsigncode (cmake/WindowsPackaging.cmake), and checks each download: the files it holds, the
# program's kind, its signature (osslsigncode verify with that authority; refused with another
# authority and once a byte of the program is changed), and a whole update: unpacked into an
# empty directory with an upd.ini, its .exe under wine (the 32-bit one under the 32-bit wine)
# brings the directory up to date from the Linux reference server on 127.0.9.4 and 127.0.9.5.
# The zips are left in build-package-windows/.
#
# A publisher signs with a certificate of their own instead (see the README): QM_SIGNING_CERTIFICATE
# and QM_SIGNING_KEY (PEM files), QM_SIGNING_CA (the authority that verifies them; default: the
# system's) and QM_SIGNING_TIMESTAMP (the URL of an RFC 3161 time-stamping server).
#
# Uses from scripts/package: repo, jobs, section, fail.

output="$repo/build-package-windows"
host_build="${QM_HOST_BUILD:-$repo/build}"
version="$(sed -n 's/^project(quillmesh-updater VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")"
# The files of each download, as `cmake -E tar tf` lists them.
contents="quillmesh-updater-copyright.txt quillmesh-updater-readme.txt quillmesh-updater.exe"
contents+=" upd.ini.example"
mkdir -p "$output"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/quillmesh-package-windows.XXXXXX")"
source "$repo/scripts/lib/sample-release.bash"
source "$repo/scripts/lib/wine.bash"
cleanup() {
    stop_sample_server
    for prefix in "$output"/wine-*; do
        [[ -d $prefix ]] && WINEPREFIX="$prefix" stop_wine
    done
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- The certificates -------------------------------------------------------------------------

# A certificate authority and a code-signing certificate it issued, valid for two days, in DIR;
# NAME goes into their subjects.
make_signing_certificates() {
    local dir="$1" name="$2"
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:3072 -nodes -days 2 -keyout "$dir/ca.key" -out "$dir/ca.crt" \
        -subj "/CN=$name signing authority" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" >/dev/null 2>&1 ||
        fail "openssl could not make the certificate authority"
    openssl req -newkey rsa:3072 -nodes -keyout "$dir/signing.key" -out "$dir/signing.csr" \
        -subj "/CN=$name publisher" >/dev/null 2>&1 || fail "openssl could not make a key"
    printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
        "extendedKeyUsage=critical,codeSigning" "subjectKeyIdentifier=hash" \
        "authorityKeyIdentifier=keyid" >"$dir/signing.ext"
    openssl x509 -req -in "$dir/signing.csr" -CA "$dir/ca.crt" -CAkey "$dir/ca.key" \
        -set_serial "0x$(openssl rand -hex 8)" -days 2 -extfile "$dir/signing.ext" \
        -out "$dir/signing.crt" >/dev/null 2>&1 || fail "openssl could not issue the certificate"
}

if [[ -n ${QM_SIGNING_CERTIFICATE:-} ]]; then
    section "Signing with the publisher's certificate $QM_SIGNING_CERTIFICATE"
    certificate="$QM_SIGNING_CERTIFICATE"
    key="${QM_SIGNING_KEY:?QM_SIGNING_KEY names the key of QM_SIGNING_CERTIFICATE}"
    authority="${QM_SIGNING_CA:-/etc/ssl/certs/ca-certificates.crt}"
else
    section "A throwaway certificate authority and code-signing certificate"
    make_signing_certificates "$scratch/signing" "quillmesh throwaway"
    certificate="$scratch/signing/signing.crt"
    key="$scratch/signing/signing.key"
    authority="$scratch/signing/ca.crt"
    openssl x509 -in "$certificate" -noout -subject -issuer -ext extendedKeyUsage | sed 's/^/  /'
fi
make_signing_certificates "$scratch/stranger" "stranger"
timestamp="${QM_SIGNING_TIMESTAMP:-}"

# ---- The downloads ----------------------------------------------------------------------------

# Builds the updater for ARCHITECTURE (x86_64, x86) with TOOLCHAIN and makes its signed zip in
# $output. The build is the cross check's (CROSS_BUILD) when there is one, so that CI, which ran
# the cross check just before, builds each program once; else one of its own, without tests.
make_download() {
    local architecture="$1" toolchain="$2" build="$3" generator=()
    if [[ -f $build/CMakeCache.txt ]]; then
        section "Building the updater for Windows $architecture (the cross check's, $build)"
    else
        build="$output/$architecture"
        section "Building the updater for Windows $architecture (Release, $build)"
        if [[ ! -f $build/CMakeCache.txt ]] && command -v ninja >/dev/null; then
            generator=(-G Ninja)
        fi
        cmake -S "$repo" -B "$build" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQM_BENCHMARKS=OFF \
            >"$build.configure.log" 2>&1 || fail "cmake failed: $(cat "$build.configure.log")"
    fi
    local log="$output/$architecture"
    cmake --build "$build" -j "$jobs" --target quillmesh-updater >"$log.build.log" 2>&1 ||
        fail "the build failed: $(tail -50 "$log.build.log")"
    section "quillmesh-updater-$version-windows-$architecture.zip (cpack, signed by osslsigncode)"
    rm -f "$build"/*.zip
    (cd "$build" && cpack -G ZIP -D CPACK_QM_SIGNING_CERTIFICATE="$certificate" \
        -D CPACK_QM_SIGNING_KEY="$key" -D CPACK_QM_SIGNING_TIMESTAMP="$timestamp" \
        >"$log.cpack.log" 2>&1) || fail "cpack failed: $(cat "$log.cpack.log")"
    grep -q "signed .*quillmesh-updater.exe" "$log.cpack.log" ||
        fail "cpack did not sign the program: $(cat "$log.cpack.log")"
    mv "$build/quillmesh-updater-$version-windows-$architecture.zip" "$output/" ||
        fail "cpack made no quillmesh-updater-$version-windows-$architecture.zip"
}

rm -f "$output"/*.zip
make_download x86_64 "$repo/cmake/x86_64-w64-mingw32.cmake" "$repo/build-windows"
make_download x86 "$repo/cmake/i686-w64-mingw32.cmake" "$repo/build-windows-x86"

# ---- Each download: contents and signature ------------------------------------------------------

# Unpacks ZIP into the new directory DIR.
unpack() {
    mkdir -p "$2"
    (cd "$2" && cmake -E tar xf "$1") || fail "$(basename "$1") does not unpack"
}

# Checks the signature of PROGRAM: verified with the authority, refused with another one and
# once one byte of the program is changed.
check_signature() {
    local program="$1"
    osslsigncode verify -CAfile "$authority" -in "$program" >"$scratch/verify.log" 2>&1 ||
        fail "osslsigncode does not verify $program: $(cat "$scratch/verify.log")"
    grep -E '^(Message digest algorithm|\s*Subject|\s*Issuer|Signature verification)' \
        "$scratch/verify.log" | sort -u | sed 's/^[[:space:]]*/  /'
    if osslsigncode verify -CAfile "$scratch/stranger/ca.crt" -in "$program" >/dev/null 2>&1; then
        fail "the signature of $program verifies with an authority that did not issue it"
    fi
    cp "$program" "$scratch/changed.exe"
    # One byte in the middle of the program, well inside its code.
    local middle=$(($(stat -c %s "$program") / 2))
    printf '\x5a' | dd of="$scratch/changed.exe" bs=1 seek="$middle" conv=notrunc status=none
    cmp -s "$program" "$scratch/changed.exe" &&
        printf '\xa5' | dd of="$scratch/changed.exe" bs=1 seek="$middle" conv=notrunc status=none
    if osslsigncode verify -CAfile "$authority" -in "$scratch/changed.exe" >/dev/null 2>&1; then
        fail "the signature of $program still verifies once the program is changed"
    fi
    echo "  refused with another authority and once a byte of the program is changed"
}

declare -A machines=([x86_64]="PE32+ executable (GUI) x86-64"
    [x86]="PE32 executable (GUI) Intel 80386")
for architecture in x86_64 x86; do
    zip="$output/quillmesh-updater-$version-windows-$architecture.zip"
    section "$(basename "$zip"): contents and signature"
    cmake -E tar tvf "$zip" | sed 's/^/  /'
    listed="$(cmake -E tar tf "$zip" | LC_ALL=C sort | tr '\n' ' ')"
    [[ $listed == "$contents " ]] || fail "$(basename "$zip") holds $listed, not $contents"
    unpack "$zip" "$scratch/contents-$architecture"
    program="$scratch/contents-$architecture/quillmesh-updater.exe"
    file -b "$program" | sed 's/^/  /'
    [[ $(file -b "$program") == *"${machines[$architecture]}"* ]] ||
        fail "the program of $(basename "$zip") is not ${machines[$architecture]}"
    check_signature "$program"
    for text in quillmesh-updater-copyright.txt quillmesh-updater-readme.txt upd.ini.example; do
        [[ $(head -1 "$scratch/contents-$architecture/$text") == *$'\r' ]] ||
            fail "$text of $(basename "$zip") has no Windows line ends"
    done
done

# ---- Each download: a whole update under wine ---------------------------------------------------

section "The Linux reference server ($host_build)"
if [[ ! -f $host_build/CMakeCache.txt ]]; then
    cmake -S "$repo" -B "$host_build" -DQM_BENCHMARKS=OFF >/dev/null
fi
cmake --build "$host_build" -j "$jobs" --target quillmesh-update-server >/dev/null
server="$host_build/tools/quillmesh-update-server"

release="$scratch/release"
make_sample_release "$release" "$scratch/obsolete.txt" /dev/null

declare -A wines=([x86_64]=win64 [x86]=win32)
declare -A addresses=([x86_64]=127.0.9.4 [x86]=127.0.9.5)  # WindowsPackageRun, WindowsX86PackageRun
not_run=()
for architecture in x86_64 x86; do
    zip="$output/quillmesh-updater-$version-windows-$architecture.zip"
    address="${addresses[$architecture]}"
    section "$(basename "$zip") unpacked into an empty directory, under wine (${wines[$architecture]})"
    if ! wine_runs "${wines[$architecture]}"; then
        not_run+=("$architecture")
        continue
    fi
    use_wine "$output/wine-${wines[$architecture]}" "${wines[$architecture]}"
    start_wine
    start_sample_server "$scratch/server-$architecture.log" "$release" "$scratch/obsolete.txt" \
        "$address" timeout 300 "$server" || fail "the server did not start"
    client="$scratch/client-$architecture"
    unpack "$zip" "$client"
    # No EXE: the run ends with the box that says the update is complete.
    printf '[GENERAL]\r\nSERVER=%s\r\n' "$address" >"$client/upd.ini"
    status=0
    (cd "$client" && timeout 120 wine ./quillmesh-updater.exe </dev/null \
        >"$scratch/updater-$architecture.log" 2>&1) || status=$?
    grep -v -E '^(transfer|progress):' "$scratch/updater-$architecture.log" | sed 's/^/  /'
    ((status == 0)) || fail "the updater of $(basename "$zip") ended with exit status $status"
    grep -q '^box: \[Update successfull\.\]' "$scratch/updater-$architecture.log" ||
        fail "the updater of $(basename "$zip") did not say that the update is complete"
    for entry in $contents; do
        [[ -f $client/$entry ]] || fail "the update removed $entry of the download"
    done
    diff -r -x upd.ini -x crc.ini -x 'quillmesh-updater*' -x upd.ini.example "$release" \
        "$client" >&2 ||
        fail "the directory of $(basename "$zip") was not brought up to date"
    echo "  the directory holds the release, beside the download's files"
    stop_sample_server
    stop_wine
done

if ((${#not_run[@]})); then
    section "Done: both downloads signed and verified; the run under wine of ${not_run[*]} NOT RUN"
else
    section "Done: both downloads signed and verified, each brought its directory up to date"
fi
ls -l "$output"/*.zip | awk '{ print "  " $5, $9 }'
