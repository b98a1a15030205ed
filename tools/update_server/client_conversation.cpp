#include "update_server/client_conversation.h"

#include <string>

#include "net/welcome.h"
#include "update_server/wording.h"

namespace qm::server {

using namespace update;  // the message layouts
using base::AsBytes;

ClientConversation::ClientConversation(Addressing replies, CatalogShelf const& shelf,
                                       ClientLog& log, net::Outbox& out, std::uint32_t capabilities)
    : replies_(replies),
      capabilities_(capabilities),
      log_(log),
      out_(out),
      catalog_(shelf.current()) {}

void ClientConversation::Welcome() {
    net::AppendWelcome(out_.frames(), replies_.sourceId, replies_.destinationId);
}

ClientConversation::Verdict ClientConversation::Handle(std::span<const std::uint8_t> frame) {
    std::optional<MessageHead> const head = ReadMessageHead(frame);
    if (!head) {
        return Refuse("frame too short for a message (" + std::to_string(frame.size()) + " bytes)");
    }
    if (!loggedIn_ && !(head->type == kNetworkFrame && head->kind == kind::LoginMessage)) {
        return Refuse("message before the login (type " + std::to_string(head->type) + " kind " +
                      std::to_string(head->kind) + ")");
    }
    // The answers of the fast path come before any other: a client that asks for something else
    // while they are under way breaks the order of answers.
    if (!answers_.empty() && head->type == kUpdateFrame && head->kind != kind::EntriesRequest &&
        head->kind != kind::StreamRequest) {
        return Refuse("request of kind " + std::to_string(head->kind) +
                      " while entries or streams are under way");
    }
    switch (head->type) {
        case kNetworkFrame:
            return OnNetworkMessage(head->kind, frame);
        case kUpdateFrame:
            return OnUpdateMessage(head->kind, frame);
        default:
            return Verdict::Continue;
    }
}

ClientConversation::Verdict ClientConversation::OnNetworkMessage(
    std::uint8_t messageKind, std::span<const std::uint8_t> frame) {
    switch (messageKind) {
        case kind::LoginMessage:
            return OnLogin(frame);
        case kind::ServerQuery:
            return OnServerQuery(frame);
        default:
            return Verdict::Continue;
    }
}

ClientConversation::Verdict ClientConversation::OnUpdateMessage(
    std::uint8_t messageKind, std::span<const std::uint8_t> frame) {
    switch (messageKind) {
        case kind::ListRequest:
            return OnListRequest(frame);
        case kind::AckMessage:
            return OnAck(frame);
        case kind::FileRequest:
            return OnFileRequest(frame);
        case kind::ChunkRequest:
            return OnChunkRequest(frame);
        case kind::EntriesRequest:
            return capabilities_ & capability::ListEntries ? OnEntriesRequest(frame)
                                                           : Verdict::Continue;
        case kind::StreamRequest:
            return capabilities_ & capability::FileStreams ? OnStreamRequest(frame)
                                                           : Verdict::Continue;
        default:
            return Verdict::Continue;
    }
}

ClientConversation::Verdict ClientConversation::OnLogin(std::span<const std::uint8_t> frame) {
    std::optional<LoginMessage> const login = ReadLoginMessage(frame);
    if (!login) {
        return Refuse("login message too short");
    }
    if (FieldText(login->networkWord) != kNetworkWord) {
        return Refuse("login with the wrong network word " + Quoted(FieldText(login->networkWord)));
    }
    loggedIn_ = true;
    log_.Note("logged in as " + Quoted(FieldText(login->clientName)));
    return Verdict::Continue;
}

ClientConversation::Verdict ClientConversation::OnServerQuery(std::span<const std::uint8_t> frame) {
    std::optional<ServerQuery> const query = ReadServerQuery(frame);
    if (!query) {
        return Refuse("server query too short");
    }
    if (query->serviceCode != kUpdateService) {
        log_.Note("query for service " + std::to_string(query->serviceCode) + " not answered");
        return Verdict::Continue;
    }
    std::optional<std::uint32_t> const announced =
        capabilities_ != 0 ? std::optional(capabilities_) : std::nullopt;
    Send(ServerAnnouncement{replies_, kUpdateService, announced});
    return Verdict::Continue;
}

ClientConversation::Verdict ClientConversation::OnListRequest(std::span<const std::uint8_t> frame) {
    std::optional<ListRequest> const request = ReadListRequest(frame);
    if (!request) {
        return Refuse("list request too short");
    }
    // A summary answered by a request for another list means the client had it already.
    if (walk_.list != nullptr && walk_.step == ListWalk::Step::SummarySent) {
        log_.Note("list " + walk_.list->name + " skipped (unchanged)");
    }
    std::string_view const listName = FieldText(request->listName);
    listRequested_ = true;
    FileList const* list = catalog_->FindList(listName);
    if (list == nullptr) {
        walk_ = ListWalk{};
        Send(ListSummary{replies_, 0, AsBytes(listName), {}, 1});
        log_.Note(listName.empty() ? std::string("all lists done")
                                   : "unknown list " + Quoted(listName) + " requested: run ended");
        return Verdict::Continue;
    }
    walk_ = ListWalk{list, ListWalk::Step::SummarySent, 0};
    Send(ListSummary{replies_, list->checksum, AsBytes(list->name), AsBytes(list->next), 0});
    return Verdict::Continue;
}

ClientConversation::Verdict ClientConversation::OnAck(std::span<const std::uint8_t> frame) {
    std::optional<AckMessage> const ack = ReadAckMessage(frame);
    if (!ack) {
        return Refuse("acknowledgement too short");
    }
    if (walk_.list == nullptr || walk_.step == ListWalk::Step::Ended) {
        return Verdict::Continue;  // nothing is waiting for it
    }
    if (FieldText(ack->listName) != walk_.list->name) {
        log_.Note("acknowledgement for list " + Quoted(FieldText(ack->listName)) +
                  " while walking " + walk_.list->name + " ignored");
        return Verdict::Continue;
    }
    DescribeNext();
    return Verdict::Continue;
}

// Tokens number the descriptions of a list: 0 for the begin, then 1, 2, ... for the entries and
// the end.
void ClientConversation::DescribeNext() {
    FileList const& list = *walk_.list;
    if (walk_.step == ListWalk::Step::SummarySent) {
        Send(FileDescription{replies_, action::Begin, 0, {}, AsBytes(list.name), 0});
        walk_.step = ListWalk::Step::Describing;
    } else if (walk_.nextEntry < list.files.size()) {
        ReleaseFile const& file = list.files[walk_.nextEntry];
        auto const token = static_cast<std::uint32_t>(walk_.nextEntry + 1);
        Send(FileDescription{replies_, action::CheckFile, token, AsBytes(file.path),
                             AsBytes(file.path), file.checksum});
        ++walk_.nextEntry;
    } else if (walk_.nextEntry < list.EntryCount()) {
        std::string const& path = list.deletions[walk_.nextEntry - list.files.size()];
        auto const token = static_cast<std::uint32_t>(walk_.nextEntry + 1);
        Send(FileDescription{replies_, action::DeleteFile, token, AsBytes(path), AsBytes(path), 0});
        ++walk_.nextEntry;
    } else {
        auto const token = static_cast<std::uint32_t>(list.EntryCount() + 1);
        Send(FileDescription{replies_, action::SwitchList, token, AsBytes(list.next),
                             AsBytes(list.name), list.checksum});
        walk_.step = ListWalk::Step::Ended;
        log_.Note("list " + list.name + " walked (" + Counted(list.files.size(), "file") + ", " +
                  Counted(list.deletions.size(), "deletion") + ")");
    }
}

ClientConversation::Verdict ClientConversation::OnFileRequest(std::span<const std::uint8_t> frame) {
    std::optional<FileRequest> const request = ReadFileRequest(frame);
    if (!request) {
        return Refuse("file request too short");
    }
    std::string_view const remoteName = FieldText(request->remoteName);
    ReleaseFile const* file = FindFile(remoteName);
    if (file == nullptr) {
        return Refuse("request for the unknown file " + Quoted(remoteName));
    }
    Send(FileSize{replies_, AsBytes(file->path), static_cast<std::uint32_t>(file->size)});
    return Verdict::Continue;
}

ClientConversation::Verdict ClientConversation::OnChunkRequest(
    std::span<const std::uint8_t> frame) {
    std::optional<ChunkRequest> const request = ReadChunkRequest(frame);
    if (!request) {
        return Refuse("chunk request too short");
    }
    std::string_view const remoteName = FieldText(request->remoteName);
    ReleaseFile const* file = FindFile(remoteName);
    if (file == nullptr) {
        return Refuse("chunk request for the unknown file " + Quoted(remoteName));
    }
    auto const data = chunks_.Read(catalog_->root(), *file, request->chunkIndex);
    if (!data.ok()) {
        return Refuse("cannot read " + Quoted(file->path) + ": " + data.reason());
    }
    Send(DataChunk{replies_, request->chunkIndex, data.value()});
    if (data.value().empty()) {
        chunks_.Close();
        log_.Note("sent " + file->path + " (" + Counted(file->size, "byte") + ")");
    }
    return Verdict::Continue;
}

// ---- The fast path
// -------------------------------------------------------------------------------

ClientConversation::Verdict ClientConversation::OnEntriesRequest(
    std::span<const std::uint8_t> frame) {
    std::optional<EntriesRequest> const request = ReadEntriesRequest(frame);
    if (!request) {
        return Refuse("entries request too short");
    }
    std::string_view const listName = FieldText(request->listName);
    FileList const* list = listRequested_ ? catalog_->FindList(listName) : nullptr;
    if (list == nullptr) {
        return Refuse("entries of the unknown list " + Quoted(listName) + " requested");
    }
    if (request->count == 0 || request->count > kMostEntriesAsked) {
        return Refuse("entries request for " + std::to_string(request->count) + " entries");
    }
    // The list is walked by entries, not skipped.
    if (walk_.list == list && walk_.step == ListWalk::Step::SummarySent) {
        walk_.step = ListWalk::Step::Describing;
    }
    std::size_t const listEnd = list->EntryCount() + 1;  // the end entry is the last
    std::size_t const first = std::min<std::size_t>(request->firstEntry, listEnd);
    answers_.emplace_back(
        EntriesAnswer{list, first, std::min<std::size_t>(first + request->count, listEnd)});
    return Verdict::Continue;
}

ClientConversation::Verdict ClientConversation::OnStreamRequest(
    std::span<const std::uint8_t> frame) {
    std::optional<StreamRequest> const request = ReadStreamRequest(frame);
    if (!request) {
        return Refuse("stream request too short");
    }
    std::string_view const remoteName = FieldText(request->remoteName);
    ReleaseFile const* file = FindFile(remoteName);
    if (file == nullptr) {
        return Refuse("stream request for the unknown file " + Quoted(remoteName));
    }
    if (streamsWaiting_ == kMostWaitingStreams) {
        return Refuse("more than " + std::to_string(kMostWaitingStreams) +
                      " stream requests waiting");
    }
    ++streamsWaiting_;
    answers_.emplace_back(StreamAnswer{file, request->firstChunk});
    return Verdict::Continue;
}

ClientConversation::Verdict ClientConversation::Produce(std::size_t bound) {
    while (!answers_.empty() && out_.pending() < bound) {
        bool more = true;
        if (auto* entries = std::get_if<EntriesAnswer>(&answers_.front())) {
            more = ProduceEntries(*entries);
        } else {
            Outcome<bool> const produced = ProduceStream(std::get<StreamAnswer>(answers_.front()));
            if (!produced.ok()) {
                answers_.clear();
                return Refuse(produced.reason());
            }
            more = produced.value();
            streamsWaiting_ -= more ? 0 : 1;
        }
        if (!more) {
            answers_.pop_front();
        }
    }
    return Verdict::Continue;
}

bool ClientConversation::ProduceEntries(EntriesAnswer& answer) {
    FileList const& list = *answer.list;
    ListEntriesWriter writer(out_.frames(), replies_, static_cast<std::uint32_t>(answer.next));
    std::size_t room = kListEntriesRoom;  // one frame at a time
    while (answer.next < answer.end) {
        ListEntry const entry = EntryOf(list, answer.next);
        if (EncodedSize(entry) > room) {
            return true;  // the writer sends what it gathered when it goes
        }
        room -= EncodedSize(entry);
        writer.Add(entry);
        if (++answer.next > list.EntryCount()) {
            writer.Flush(true);
            log_.Note("list " + list.name + " walked (" + Counted(list.files.size(), "file") +
                      ", " + Counted(list.deletions.size(), "deletion") + ") by entries");
            return false;
        }
    }
    return false;
}

// Entry `index` of the list: its files, its deletions, then its end, as the walk describes them.
ListEntry ClientConversation::EntryOf(FileList const& list, std::size_t index) {
    std::size_t const files = list.files.size();
    if (index < files) {
        ReleaseFile const& file = list.files[index];
        return {action::CheckFile,  file.checksum,      static_cast<std::uint32_t>(file.size),
                AsBytes(file.path), AsBytes(file.path), {}};
    }
    if (index < list.EntryCount()) {
        std::string const& path = list.deletions[index - files];
        return {action::DeleteFile, 0, 0, AsBytes(path), AsBytes(path), {}};
    }
    return {action::SwitchList, list.checksum, 0, AsBytes(list.next), AsBytes(list.name), {}};
}

Outcome<bool> ClientConversation::ProduceStream(StreamAnswer& answer) {
    ReleaseFile const& file = *answer.file;
    if (!answer.sizeSent) {
        Send(FileSize{replies_, AsBytes(file.path), static_cast<std::uint32_t>(file.size)});
        answer.sizeSent = true;
        return Outcome<bool>::Success(true);
    }
    auto const data = chunks_.Read(catalog_->root(), file, answer.next);
    if (!data.ok()) {
        return Outcome<bool>::Failure("cannot read " + Quoted(file.path) + ": " + data.reason());
    }
    Send(DataChunk{replies_, answer.next++, data.value()});
    if (!data.value().empty()) {
        return Outcome<bool>::Success(true);
    }
    chunks_.Close();
    log_.Note("sent " + file.path + " (" + Counted(file.size, "byte") + ") as a stream");
    return Outcome<bool>::Success(false);
}

ReleaseFile const* ClientConversation::FindFile(std::string_view remoteName) const {
    return listRequested_ ? catalog_->FindFile(remoteName) : nullptr;
}

ClientConversation::Verdict ClientConversation::Refuse(std::string const& reason) {
    log_.Note("hanging up: " + reason);
    return Verdict::HangUp;
}

}  // namespace qm::server
