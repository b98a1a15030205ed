#!/usr/bin/env python3
"""TLS against plain TCP for one updater program, as shipped_bench's TLS scenario takes it, on
addresses of its own (127.0.8.19 plain, 127.0.8.20 TLS), so that it runs beside the other
benchmarks. Made for the Windows program under wine (a launcher script that runs the .exe), and
run with the Linux program for the figure beside it:

    bench/wine_tls_throughput.py --updater build-windows/quillmesh-updater-under-wine \\
        --server build/tools/quillmesh-update-server
    bench/wine_tls_throughput.py --updater build/src/app/quillmesh-updater \\
        --server build/tools/quillmesh-update-server

A release of one random file (256 MiB unless --size-mib) is served by the reference server twice,
in plain TCP and with a key made for the run; the updater downloads it into an empty client
directory, plain and TLS alternating (--pairs, default 3), with WINDOW=64 (--window). Each run is
timed from the updater's line "status: file:" (the file's size arrived, its first request went
out) to "status: Operation complete..." (the file is checked and in place). Prints each pair and
the median of the pairs' ratios (TLS / plain throughput). Every run is bounded in time.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PLAIN = "127.0.8.19"  # tests/support/addresses.h: WineTlsThroughputPlain
TLS = "127.0.8.20"  # WineTlsThroughputTls
SIZE_LINE = "status: file:"
COMPLETE_LINE = "status: Operation complete..."


def start_server(server, release, address, extra, log):
    process = subprocess.Popen([server, "--root", release, "--listen", address] + extra,
                               stdout=log, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        with open(log.name, encoding="utf-8", errors="replace") as text:
            if "listening on" in text.read():
                return process
        if process.poll() is not None:
            break
        time.sleep(0.1)
    process.kill()
    sys.exit(f"the server on {address} did not start; see {log.name}")


def download(updater, scratch, address, settings):
    client = os.path.join(scratch, "client")
    shutil.rmtree(client, ignore_errors=True)
    os.makedirs(client)
    with open(os.path.join(client, "upd.ini"), "w", encoding="ascii") as ini:
        ini.write(f"[GENERAL]\r\nSERVER={address}\r\n{settings}")
    run = subprocess.Popen([updater], cwd=client, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    start = end = None
    deadline = time.monotonic() + 600
    for line in run.stdout:
        now = time.monotonic()
        if start is None and line.startswith(SIZE_LINE):
            start = now
        elif start is not None and line.startswith(COMPLETE_LINE):
            end = now
        if now > deadline:
            run.kill()
            break
    status = run.wait(timeout=60)
    if status != 0 or start is None or end is None:
        sys.exit(f"the download from {address} failed (exit status {status})")
    return end - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--updater", required=True)
    parser.add_argument("--server", required=True)
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--pairs", type=int, default=3)
    parser.add_argument("--window", type=int, default=64)
    options = parser.parse_args()
    updater = os.path.abspath(options.updater)
    server = os.path.abspath(options.server)
    size = options.size_mib << 20
    with tempfile.TemporaryDirectory(prefix="qm-wine-tls-") as scratch:
        release = os.path.join(scratch, "release")
        os.makedirs(release)
        with open(os.path.join(release, "big.bin"), "wb") as big:
            for _ in range(options.size_mib):
                big.write(os.urandom(1 << 20))
        key, certificate = os.path.join(scratch, "k.pem"), os.path.join(scratch, "c.pem")
        made = subprocess.run([server, "--make-tls-key", "--tls-key", key, "--tls-certificate",
                               certificate], capture_output=True, text=True, timeout=60,
                              check=True)
        pin = made.stdout.split()[0]
        with open(os.path.join(scratch, "plain.log"), "w") as plain_log, \
             open(os.path.join(scratch, "tls.log"), "w") as tls_log:
            servers = [start_server(server, release, PLAIN, [], plain_log),
                       start_server(server, release, TLS,
                                    ["--tls-key", key, "--tls-certificate", certificate],
                                    tls_log)]
            try:
                settings = f"WINDOW={options.window}\r\n"
                ratios, plain_rates, tls_rates = [], [], []
                for _ in range(options.pairs):
                    plain = download(updater, scratch, PLAIN, settings)
                    tls = download(updater, scratch, TLS, settings + f"PIN={pin}\r\n")
                    ratios.append(plain / tls)
                    plain_rates.append(size / plain / 1e6)
                    tls_rates.append(size / tls / 1e6)
                    print(f"WINDOW={options.window}: plain {plain:.2f} s ({plain_rates[-1]:.1f} "
                          f"MB/s), TLS {tls:.2f} s ({tls_rates[-1]:.1f} MB/s), ratio "
                          f"{ratios[-1]:.3f}", flush=True)
                print(f"median: plain {statistics.median(plain_rates):.1f} MB/s, TLS "
                      f"{statistics.median(tls_rates):.1f} MB/s, TLS / plain "
                      f"{statistics.median(ratios):.3f} (median of {len(ratios)} paired ratios)")
            finally:
                for process in servers:
                    process.terminate()
                    process.wait(timeout=15)


if __name__ == "__main__":
    main()
