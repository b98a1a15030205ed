// The commit of a run that applies everything at once (APPLY=run), made to survive a kill or a
// power cut at any moment. The plan is first written to a journal beside crc.ini (kJournalPath),
// with a checksum, and made durable together with the directories of the staged files; then it is
// carried out (staged files moved over their targets, files deleted, list checksums recorded),
// the directories flushed, and the journal removed. A run that finds a journal carries it out
// before anything else: a commit stopped before its journal was durable leaves the old version,
// one stopped after it the new one. Carrying out twice does no harm.
#pragma once

#include <string>

#include "update/run_plan.h"

namespace qm::update {

inline constexpr char kJournalPath[] = "./.quillmesh-journal";
inline constexpr char kJournalPrefix[] = ".quillmesh-journal";

// Commits `plan`. False, with `problem` said (the text of a "Disk access error"), when a step
// failed: the journal then stays for the next run to complete, once it was written.
bool CommitPlan(RunPlan const& plan, std::string& problem);

enum class Recovery { NoJournal, Completed, Failed };

// Completes the commit that a journal left by an earlier run describes. A journal that is not
// whole (its checksum does not match) is removed unused: its commit had not begun. Failed, with
// `problem` said, when a step could not be carried out; the journal stays.
Recovery CompleteInterruptedCommit(std::string& problem);

}  // namespace qm::update
