// The scenarios of shipped_bench that measure the fast path (docs/protocol.md) through the link
// emulator at 20 and 50 ms round trips, each beside the old walk of the same reference server
// started with --no-fast-path, and the old walk of this build against an earlier build's.
#pragma once

#include "ratio_table.h"
#include "shipped_runs.h"

namespace qm::bench {

// Lists of 500 and of 10,000 small files with one changed 1 MiB file: from the server's
// announcement to the updater's acknowledgement of the last list; the updater's peak memory.
void MeasureLists(Options const& options, fs::path const& scratch, RatioTable& table);

// A 256 MiB download: the fast path and the old walk (WINDOW=256), against a raw TCP stream
// through the same link and the minimal streaming client (bench/streaming_client.h).
void MeasureStreams(Options const& options, fs::path const& scratch, RatioTable& table);

// Against a server that announces nothing: this build's updater and an earlier build's
// (Options::previousUpdater), alternating; the bytes each sent, and their times.
void MeasurePrevious(Options const& options, fs::path const& scratch, RatioTable& table);

}  // namespace qm::bench
