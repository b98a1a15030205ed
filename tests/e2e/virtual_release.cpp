#include "e2e/virtual_release.h"

#include "support/conversation.h"
#include "support/crc32.h"

namespace qm::test {

// One served run: the conversation, the token counter and the report it fills.
class VirtualRelease::Run {
  public:
    Run(ScriptedServer& server, Peers peers, std::vector<ReleaseList> const& lists,
        ReleaseReport& report)
        : talk_(server, peers), lists_(lists), report_(report) {}

    void Serve() {
        if (!Step(talk_.Open(), "log-in and announcement")) {
            return;
        }
        for (std::size_t i = 0; i < lists_.size(); ++i) {
            if (!ServeList(i)) {
                return;
            }
        }
    }

  private:
    bool Step(::testing::AssertionResult const& result, std::string const& what) {
        if (!result) {
            report_.failures.push_back(what + ": " + result.message());
        }
        return static_cast<bool>(result);
    }

    bool Fail(std::string const& what) {
        report_.failures.push_back(what);
        return false;
    }

    bool IsLast(std::size_t i) const { return i + 1 == lists_.size(); }
    // The list that follows list i; the last list names itself.
    std::string const& NextName(std::size_t i) const { return lists_[IsLast(i) ? i : i + 1].name; }

    std::uint32_t NextToken() { return lastToken_ = ++tokens_; }

    // The updater has just asked for list i.
    bool ServeList(std::size_t i) {
        ReleaseList const& list = lists_[i];
        talk_.listName = list.name;
        ScriptedServer& server = talk_.server();
        Bytes const summary = Summary(list.checksum, list.name, NextName(i), 0, talk_.peers());
        if (!Step(server.Send(summary), "summary of " + list.name)) {
            return false;
        }
        std::optional<Bytes> const answer = server.ReceiveFrame();
        if (answer && *answer == talk_.ListRequestFor(NextName(i))) {
            report_.skippedLists.push_back(list.name);
            return !IsLast(i) || Complete();
        }
        if (!answer || *answer != talk_.Ack(lastToken_)) {
            return Fail("answer to the summary of " + list.name + ": " +
                        (answer ? SameFrame(talk_.Ack(lastToken_), *answer).message()
                                : std::string("nothing")));
        }
        return Step(talk_.Begin(NextToken()), "begin of " + list.name) && ServeFiles(list) &&
               ServeDeletions(list) && EndList(i);
    }

    bool ServeFiles(ReleaseList const& list) {
        for (ReleaseFile const& file : list.files) {
            std::uint32_t const token = NextToken();
            if (!Step(talk_.SendDescription(1, token, file.localPath, file.remoteName,
                                            ReferenceCrc32(file.content)),
                      "description of " + file.remoteName) ||
                !ServeFile(file, token)) {
                return false;
            }
        }
        return true;
    }

    bool ServeFile(ReleaseFile const& file, std::uint32_t token) {
        ScriptedServer& server = talk_.server();
        Peers const& peers = talk_.peers();
        std::optional<Bytes> const answer = server.ReceiveFrame();
        if (answer && *answer == talk_.Ack(token)) {
            report_.unchanged.push_back(file.remoteName);
            return true;
        }
        Bytes const request = FileRequest(peers.client, peers.server, file.remoteName);
        if (!answer || *answer != request) {
            return Fail("answer to the description of " + file.remoteName + ": " +
                        (answer ? SameFrame(request, *answer).message() : std::string("nothing")));
        }
        report_.downloaded.push_back(file.remoteName);
        return Step(server.Expect(ChunkRequest(peers.client, peers.fileSender, 0, file.remoteName)),
                    "request of chunk 0 of " + file.remoteName) &&
               Step(talk_.SendFile(file.remoteName, file.content, token),
                    "download of " + file.remoteName);
    }

    bool ServeDeletions(ReleaseList const& list) {
        for (std::string const& path : list.deletions) {
            std::uint32_t const token = NextToken();
            if (!Step(talk_.SendDescription(4, token, path), "deletion of " + path) ||
                !Step(talk_.ExpectAck(token), "deletion of " + path)) {
                return false;
            }
        }
        return true;
    }

    // Records the list's checksum: the last list is repeated and then completed, every other one
    // switches to the next list.
    bool EndList(std::size_t i) {
        ReleaseList const& list = lists_[i];
        std::uint8_t const action = IsLast(i) ? 3 : 2;
        return Step(talk_.SendDescription(action, NextToken(), NextName(i), "", list.checksum),
                    "end of " + list.name) &&
               Step(talk_.server().Expect(talk_.ListRequestFor(NextName(i))),
                    "request after " + list.name) &&
               (!IsLast(i) || Complete());
    }

    bool Complete() {
        report_.completed = Step(talk_.Finish(), "completion") &&
                            Step(talk_.server().ExpectClosed(), "after the completion");
        return report_.completed;
    }

    Conversation talk_;
    std::vector<ReleaseList> const& lists_;
    ReleaseReport& report_;
    std::uint32_t tokens_ = 0;
    std::uint32_t lastToken_ = 0;  // the updater echoes the latest description's token
};

VirtualRelease::VirtualRelease(std::string address, std::vector<ReleaseList> lists, Peers peers)
    : server_(std::move(address)), lists_(std::move(lists)), peers_(peers) {}

VirtualRelease::~VirtualRelease() {
    Join();
}

void VirtualRelease::Start() {
    report_ = {};
    thread_ = std::thread([this] { Serve(); });
}

ReleaseReport VirtualRelease::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return report_;
}

void VirtualRelease::Serve() {
    Run(server_, peers_, lists_, report_).Serve();
    server_.CloseConnection();
}

}  // namespace qm::test
