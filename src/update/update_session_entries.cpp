// The walk of a list by entries, with a server that announced the fast path. The updater asks for
// the list's entries (never more than a budget shared with the streams it waits for, so memory is
// bounded whatever the server announces), checks each file as its entry arrives, asks for each
// file that differs as a stream (the server sends the whole file, from the first chunk the
// updater lacks, without a request a chunk), deletes what the list marks, and once the list's end
// entry has come and every stream has ended, records the list and asks for the next one: that
// request acknowledges the list as a whole.
#include <algorithm>

#include "update/checksum_record.h"
#include "update/display_text.h"
#include "update/update_session.h"

namespace qm::update {
namespace {

// Entries asked for at a time, and how many entries and streams may be waiting at once.
constexpr std::uint32_t kEntriesAtATime = 256;
constexpr std::uint32_t kEntriesAndStreamsWaiting = 2 * kEntriesAtATime;

}  // namespace

void UpdateSession::ResetEntriesWalk() {
    walkingEntries_ = false;
    entriesAsked_ = 0;
    entriesTaken_ = 0;
    listEnd_.reset();
    streams_.clear();
    streamUnderWay_ = false;
    streamDiscarded_ = false;
}

void UpdateSession::AskForEntries() {
    auto const waiting = [&] {
        return entriesAsked_ - entriesTaken_ + static_cast<std::uint32_t>(streams_.size()) +
               (streamUnderWay_ ? 1u : 0u);
    };
    while (walkingEntries_ && !listEnd_ &&
           waiting() + kEntriesAtATime <= kEntriesAndStreamsWaiting) {
        Append(outgoing_, EntriesRequest{ToServer(), base::AsBytes(FieldText(listName_)),
                                         entriesAsked_, kEntriesAtATime});
        entriesAsked_ += kEntriesAtATime;
    }
}

void UpdateSession::OnListEntries(Bytes frame) {
    std::optional<ListEntries> const read = ReadListEntries(frame);
    // Only what was asked for, in order, and nothing after the list's end.
    if (!read || !walkingEntries_ || listEnd_ || read->firstEntry != entriesTaken_ ||
        read->count > entriesAsked_ - entriesTaken_) {
        return RejectInvalidFrame("list entries");
    }
    Bytes entries = read->entries;
    for (std::uint16_t i = 0; i < read->count; ++i) {
        ListEntry const entry = TakeListEntry(entries);
        bool const last = i + 1 == read->count;
        bool const endsList =
            entry.action == action::SwitchList || entry.action == action::RepeatList;
        if (endsList != (last && read->endsList)) {
            return RejectInvalidFrame("list entries");
        }
        ++entriesTaken_;
        if (!HandleEntry(entry)) {
            return;
        }
    }
    AskForEntries();
    FinishEntriesWalk();
}

bool UpdateSession::HandleEntry(ListEntry const& entry) {
    window_.ShowStatus(DisplayLine("Checking ", FieldText(entry.remoteName), " ..."));
    switch (entry.action) {
        case action::CheckFile: {
            FileCheck const check = CheckLocalFile(FieldText(entry.localPath), entry.crc);
            if (check.verdict == FileCheck::Verdict::Refused) {
                return false;
            }
            if (check.verdict == FileCheck::Verdict::Download) {
                AskForStream(check, FieldText(entry.remoteName), entry.crc);
            } else {
                NoteSettled();
            }
            return true;
        }
        case action::DeleteFile:
            if (!DeleteLocalFile(FieldText(entry.localPath))) {
                return false;
            }
            NoteSettled();
            return true;
        case action::SwitchList:
        case action::RepeatList:
            listEnd_ = ListEnd{entry.action, entry.crc, MakeListName(FieldText(entry.localPath))};
            return true;
        default:
            RejectInvalidFrame("list entries");
            return false;
    }
}

void UpdateSession::AskForStream(FileCheck const& check, std::string_view remoteName,
                                 std::uint32_t crc) {
    Append(outgoing_, StreamRequest{ToServer(), check.firstChunk, base::AsBytes(remoteName)});
    streams_.push_back(Stream{check.targetPath, std::string(remoteName), crc, check.firstChunk,
                              check.partialPath});
    if (!streamUnderWay_) {
        StartNextStream();
    }
}

void UpdateSession::StartNextStream() {
    if (streams_.empty()) {
        return;
    }
    Stream const stream = std::move(streams_.front());
    streams_.pop_front();
    remoteName_.fill(0);
    std::copy_n(stream.remoteName.begin(), std::min(stream.remoteName.size(), remoteName_.size()),
                remoteName_.begin());
    expectedCrc_ = stream.crc;
    announcedSize_.reset();
    BeginDownload(FileCheck{FileCheck::Verdict::Download, stream.targetPath, stream.firstChunk,
                            stream.partialPath});
    streamUnderWay_ = true;
    streamDiscarded_ = false;
}

void UpdateSession::OnStreamChunk(DataChunk const& chunk) {
    // A stream begins with its size, and its chunks come in order.
    if (!streamUnderWay_ || !announcedSize_ ||
        (!streamDiscarded_ && chunk.chunkIndex != chunkCounter_)) {
        return RejectInvalidFrame("data chunk");
    }
    if (fileSize_ != 0) {
        ReportTransfer();
    }
    if (streamDiscarded_) {
        if (chunk.data.empty()) {
            // What an earlier run kept did not fit: the file is asked for again, from its start.
            AskForStream(FileCheck{FileCheck::Verdict::Download, targetPath_, 0, partialPath_},
                         FieldText(remoteName_), expectedCrc_);
            EndStream();
        }
        return;
    }
    if (chunk.data.empty()) {
        FinishDownload();
        return EndStream();
    }
    ++chunkCounter_;
    StoreChunk(chunk);
}

void UpdateSession::EndStream() {
    DropDownload();
    streamUnderWay_ = false;
    NoteSettled();
    StartNextStream();
    AskForEntries();
    FinishEntriesWalk();
}

void UpdateSession::FinishEntriesWalk() {
    if (!walkingEntries_ || !listEnd_ || streamUnderWay_ || !streams_.empty()) {
        return;
    }
    ListEnd const end = *listEnd_;
    ResetEntriesWalk();
    EndList(end.action, end.crc, end.next);
}

}  // namespace qm::update
