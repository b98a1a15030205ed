#include "update_server/server_program.h"

#include <sys/resource.h>

#include <csignal>
#include <string>

#include "base/unix/signal_pipe.h"

#include "net/key_pin.h"
#include "net/unix/poll_event_loop.h"
#include "tls/openssl_tls.h"
#include "update_server/release_loader.h"
#include "update_server/update_server.h"
#include "update_server/wording.h"

namespace qm::server {
namespace {

std::string Describe(ReleaseCatalog const& catalog, std::filesystem::path const& root) {
    std::size_t deletions = 0;
    std::size_t emptyFiles = 0;
    for (FileList const& list : catalog.lists()) {
        deletions += list.deletions.size();
        for (ReleaseFile const& file : list.files) {
            emptyFiles += file.size == 0 ? 1 : 0;
        }
    }
    std::string text = Counted(catalog.FileCount(), "file") + " and " +
                       Counted(deletions, "deletion") + " in " +
                       Counted(catalog.lists().size(), "list") + " from " + root.string();
    if (catalog.root() != root) {
        text += " (" + catalog.root().string() + ")";
    }
    if (emptyFiles > 0) {
        // An empty file has the checksum of a missing one, so an updater never creates it.
        text += " (" + Counted(emptyFiles, "empty file") +
                ": an updater that lacks one will not create it)";
    }
    return text;
}

std::string DescribeLimits(ServerLimits const& limits, bool proxyProtocol) {
    return "at most " + Counted(limits.maxClients, "client") + " at once, " +
           std::to_string(limits.maxPerAddress) + " from one address; login within " +
           std::to_string(limits.loginLimit.count()) + " s; idle limit " +
           std::to_string(limits.idleLimit.count()) + " s; drain limit " +
           std::to_string(limits.drainLimit.count()) + " s" +
           (proxyProtocol ? "; client addresses from PROXY protocol headers" : "");
}

// The limits as given, the number of clients derived from the descriptor limit unless given.
ServerLimits EffectiveLimits(ServerLimits limits) {
    if (limits.maxClients == 0) {
        rlimit descriptors{};
        ::getrlimit(RLIMIT_NOFILE, &descriptors);
        limits.maxClients = MaxClientsFor(descriptors.rlim_cur);
    }
    return limits;
}

// Handles the control signals between two events of the loop: SIGHUP rescans the release, a
// first SIGTERM drains the server, SIGINT or a second SIGTERM stops it at once.
class SignalHandling {
  public:
    SignalHandling(base::SignalPipe& signals, net::EventLoop& loop, ReleaseLoader const& loader,
                   CatalogShelf& shelf, UpdateServer& server, Seconds drainLimit, ServerLog& log)
        : signals_(signals),
          loop_(loop),
          loader_(loader),
          shelf_(shelf),
          server_(server),
          drainLimit_(drainLimit),
          log_(log) {
        loop_.Watch(net::SocketHandle(signals_.fd()), net::EventLoop::Interest::Readable,
                    [this] { OnSignal(); });
    }
    ~SignalHandling() { loop_.Forget(net::SocketHandle(signals_.fd())); }
    SignalHandling(SignalHandling const&) = delete;
    SignalHandling& operator=(SignalHandling const&) = delete;

  private:
    // A stop wins over a rescan that arrived with it.
    void OnSignal() {
        base::SignalSet const arrived = signals_.Drain();
        if (arrived.Contains(SIGINT) || (arrived.Contains(SIGTERM) && draining_)) {
            log_.Note("stopping");
            loop_.Stop();
        } else if (arrived.Contains(SIGTERM)) {
            draining_ = true;
            log_.Note("stopping: no new connections");
            server_.Drain(drainLimit_, [this] {
                log_.Note("stopping");
                loop_.Stop();
            });
        } else if (arrived.Contains(SIGHUP)) {
            Rescan();
        }
    }

    void Rescan() {
        auto loaded = loader_.Load();
        if (!loaded.ok()) {
            log_.Note("rescan failed, still serving the previous release: " + loaded.reason());
            return;
        }
        shelf_.Replace(loaded.value());
        log_.Note("rescanned: " + Describe(*loaded.value(), loader_.root()));
    }

    base::SignalPipe& signals_;
    net::EventLoop& loop_;
    ReleaseLoader const& loader_;
    CatalogShelf& shelf_;
    UpdateServer& server_;
    Seconds drainLimit_;
    ServerLog& log_;
    bool draining_ = false;
};

}  // namespace

int RunServer(ServerOptions const& options, std::FILE* logStream) {
    ServerLog log(logStream);
    // SIGHUP rescans the release, SIGINT and SIGTERM stop the server; SIGPIPE is ignored.
    base::SignalPipe signals({SIGHUP, SIGINT, SIGTERM}, {SIGPIPE});
    ReleaseLoader const loader(options.root, options.deletionFile);
    auto loaded = loader.Load();
    if (!loaded.ok()) {
        log.Fatal("cannot serve: " + loaded.reason(), stderr);
        return kExitCannotServe;
    }
    CatalogShelf shelf(loaded.value());
    log.Note("serving " + Describe(*loaded.value(), loader.root()));

    net::PollEventLoop loop;
    ServerLimits const limits = EffectiveLimits(options.limits);
    UpdateServer server(loop, shelf, log, limits,
                        {.proxyProtocol = options.proxyProtocol, .fastPath = !options.noFastPath});
    if (options.tlsKey) {
        std::string problem;
        std::shared_ptr<net::SecureChannelFactory> tls =
            tls::MakeServerFactory(*options.tlsKey, *options.tlsCertificate, problem);
        std::optional<net::KeyPin> const pin =
            tls ? tls::PinOfCertificate(*options.tlsCertificate, problem) : std::nullopt;
        if (!pin) {
            log.Fatal("cannot serve: " + problem, stderr);
            return kExitCannotServe;
        }
        server.UseTls(std::move(tls));
        log.Note("TLS with the key whose pin is " + net::FormatKeyPin(*pin));
    }
    log.Note("limits: " + DescribeLimits(limits, options.proxyProtocol));
    for (std::string const& address : options.listenAddresses) {
        if (auto problem = server.Listen(address)) {
            log.Fatal(*problem, stderr);
            return kExitCannotServe;
        }
    }
    SignalHandling handling(signals, loop, loader, shelf, server, limits.drainLimit, log);
    loop.Run();
    return kExitStopped;
}

int MakeTlsKey(ServerOptions const& options, std::FILE* out) {
    std::string problem;
    std::optional<net::KeyPin> pin;
    if (tls::MakeKeyAndCertificate(*options.tlsKey, *options.tlsCertificate, problem)) {
        pin = tls::PinOfCertificate(*options.tlsCertificate, problem);
    }
    if (!pin) {
        std::fprintf(stderr, "quillmesh-update-server: %s\n", problem.c_str());
        return kExitCannotServe;
    }
    std::fprintf(out, "%s\n", net::FormatKeyPin(*pin).c_str());
    return kExitStopped;
}

}  // namespace qm::server
