#include "update_server/server_options.h"

#include <charconv>

#include "update_server/wording.h"

namespace qm::server {
namespace {

constexpr std::string_view kUsage =
    "Usage: quillmesh-update-server --root DIR [--listen ADDRESS]... [--delete FILE]\n"
    "                               [--tls-key FILE --tls-certificate FILE]\n"
    "                               [--max-clients N] [--max-per-address N]\n"
    "                               [--idle-limit SECONDS] [--drain-limit SECONDS]\n"
    "                               [--proxy-protocol] [--no-fast-path]\n"
    "       quillmesh-update-server --make-tls-key --tls-key FILE --tls-certificate FILE\n"
    "       quillmesh-update-server --help\n"
    "\n"
    "Serves the release in DIR to quillmesh updaters on TCP port 34005.\n"
    "\n"
    "  --root DIR        the release: the files directly in DIR form the list quillmesh.ini,\n"
    "                    each top-level directory D the list D.ini with every file below it.\n"
    "                    DIR is scanned at start and again on SIGHUP; it may be a symbolic\n"
    "                    link to the release's own directory, swapped for the next release.\n"
    "                    A connection is served the release it started with until it ends.\n"
    "  --listen ADDRESS  an IPv4 or IPv6 address to listen on (default 127.0.0.1; 0.0.0.0 for\n"
    "                    every IPv4 interface, :: for every IPv6 one); may be given again.\n"
    "  --delete FILE     a text file of local paths, one a line, that updaters must delete\n"
    "                    (blank lines and lines starting with '#' are skipped). Each is\n"
    "                    announced in the list of its top-level directory.\n"
    "  --tls-key FILE, --tls-certificate FILE\n"
    "                    speak TLS with this key and certificate (PEM files; a self-signed\n"
    "                    certificate is fine). The log says the key's pin, which updaters\n"
    "                    put in upd.ini as PIN=sha256//...\n"
    "  --make-tls-key    make a fresh key and a self-signed certificate in the files that\n"
    "                    --tls-key and --tls-certificate name (neither may exist yet), print\n"
    "                    the pin and stop.\n"
    "  --max-clients N   serve at most N clients at once (default 'auto': what the descriptor\n"
    "                    limit leaves room for, two descriptors a client). When full, the\n"
    "                    oldest connection that has not logged in makes room, else the new\n"
    "                    one is refused.\n"
    "  --max-per-address N\n"
    "                    at most N clients from one address (default 16), the same way;\n"
    "                    clients on this machine (loopback addresses) are not counted.\n"
    "  --idle-limit SECONDS\n"
    "                    close a client that has taken nothing of what it was sent for this\n"
    "                    long (default 120). A client that sends and reads nothing is not\n"
    "                    idle by this rule; one that has not logged in within 10 s is closed.\n"
    "  --drain-limit SECONDS\n"
    "                    on SIGTERM, stop accepting and give the clients in the middle of a\n"
    "                    run this long to finish (default 30; 0 stops at once).\n"
    "  --proxy-protocol  every connection starts with a PROXY protocol version 2 header, as a\n"
    "                    load balancer sends it (haproxy: send-proxy-v2): the client's address\n"
    "                    is taken from it. A connection without a valid header is closed.\n"
    "  --no-fast-path    announce only what every updater knows: no list entries or file\n"
    "                    streams (for comparisons; updaters then walk lists file by file).\n"
    "  --help            print this text.\n"
    "\n"
    "Paths are relative, use '/' between directories and have at most 63 characters.\n"
    "The log goes to standard output (a problem that stops the server to standard error\n"
    "too). SIGTERM drains and stops the server; SIGINT, or a second SIGTERM, stops it at once.\n"
    "Exit status: 0 stopped by a signal, 1 cannot serve (release, deletion list, address),\n"
    "2 bad command line.\n";

using Result = Outcome<ServerOptions>;
// Why a value does not fit its option, or nothing.
using Problem = std::optional<std::string>;

constexpr std::size_t kMostClients = 1'000'000;
constexpr std::size_t kMostSeconds = 86'400;

// Splits "--name=value" into its two halves; other arguments stay whole.
struct Argument {
    std::string_view name;
    std::optional<std::string_view> inlineValue;
};

Argument Split(std::string_view argument) {
    std::size_t const equals = argument.find('=');
    if (!argument.starts_with("--") || equals == std::string_view::npos) {
        return Argument{argument, std::nullopt};
    }
    return Argument{argument.substr(0, equals), argument.substr(equals + 1)};
}

class ArgumentReader {
  public:
    explicit ArgumentReader(std::span<char const* const> arguments) : arguments_(arguments) {}

    bool done() const { return next_ >= arguments_.size(); }
    std::string_view Take() { return arguments_[next_++]; }

    // The value of an option: the inline one, or the next argument.
    std::optional<std::string_view> ValueOf(Argument const& argument) {
        if (argument.inlineValue) {
            return argument.inlineValue;
        }
        if (done()) {
            return std::nullopt;
        }
        return Take();
    }

  private:
    std::span<char const* const> arguments_;
    std::size_t next_ = 0;
};

// A whole number from `low` to `high` written in decimal digits alone, stored in `into`.
Problem WholeNumber(std::string_view text, std::size_t low, std::size_t high, std::size_t& into) {
    std::size_t value = 0;
    auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return "takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
               ", not " + Quoted(text);
    }
    into = value;
    return std::nullopt;
}

Problem StoreSeconds(std::string_view text, std::size_t low, Seconds& into) {
    std::size_t seconds = 0;
    Problem problem = WholeNumber(text, low, kMostSeconds, seconds);
    into = Seconds(seconds);
    return problem;
}

// Stores the value as the path in `Member`.
template <auto Member>
Problem StorePath(ServerOptions& options, std::string_view value) {
    options.*Member = std::filesystem::path(value);
    return std::nullopt;
}

struct ValueOption {
    std::string_view name;
    Problem (*store)(ServerOptions& options, std::string_view value);
};

constexpr ValueOption kValueOptions[] = {
    {"--root",
     [](ServerOptions& options, std::string_view value) -> Problem {
         options.root = value;
         return std::nullopt;
     }},
    {"--listen",
     [](ServerOptions& options, std::string_view value) -> Problem {
         options.listenAddresses.emplace_back(value);
         return std::nullopt;
     }},
    {"--delete", StorePath<&ServerOptions::deletionFile>},
    {"--tls-key", StorePath<&ServerOptions::tlsKey>},
    {"--tls-certificate", StorePath<&ServerOptions::tlsCertificate>},
    {"--max-clients",
     [](ServerOptions& options, std::string_view value) -> Problem {
         options.limits.maxClients = 0;
         if (value == "auto") {
             return std::nullopt;
         }
         Problem problem = WholeNumber(value, 1, kMostClients, options.limits.maxClients);
         return problem ? *problem + " (or 'auto')" : problem;
     }},
    {"--max-per-address",
     [](ServerOptions& options, std::string_view value) -> Problem {
         return WholeNumber(value, 1, kMostClients, options.limits.maxPerAddress);
     }},
    {"--idle-limit",
     [](ServerOptions& options, std::string_view value) -> Problem {
         return StoreSeconds(value, 1, options.limits.idleLimit);
     }},
    {"--drain-limit",
     [](ServerOptions& options, std::string_view value) -> Problem {
         return StoreSeconds(value, 0, options.limits.drainLimit);
     }},
};

struct FlagOption {
    std::string_view name;
    bool ServerOptions::*flag;
};

constexpr FlagOption kFlagOptions[] = {
    {"--help", &ServerOptions::helpWanted},
    {"--make-tls-key", &ServerOptions::makeTlsKey},
    {"--proxy-protocol", &ServerOptions::proxyProtocol},
    {"--no-fast-path", &ServerOptions::noFastPath},
};

template <typename Option>
Option const* Find(std::span<Option const> options, std::string_view name) {
    for (Option const& option : options) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

// Reads one option (and its value) from `reader` into `options`.
Problem ReadOption(ArgumentReader& reader, ServerOptions& options) {
    Argument const argument = Split(reader.Take());
    if (auto const* flag = Find<FlagOption>(kFlagOptions, argument.name);
        flag != nullptr && !argument.inlineValue) {
        options.*(flag->flag) = true;
        return std::nullopt;
    }
    ValueOption const* option = Find<ValueOption>(kValueOptions, argument.name);
    if (option == nullptr) {
        return "unknown option '" + std::string(argument.name) + "'";
    }
    std::optional<std::string_view> const value = reader.ValueOf(argument);
    if (!value || value->empty()) {
        return "option " + std::string(argument.name) + " needs a value";
    }
    if (Problem problem = option->store(options, *value)) {
        return "option " + std::string(argument.name) + " " + *problem;
    }
    return std::nullopt;
}

}  // namespace

std::string_view ServerUsage() {
    return kUsage;
}

Result ParseServerOptions(std::span<char const* const> arguments) {
    ServerOptions options;
    ArgumentReader reader(arguments);
    while (!reader.done()) {
        if (Problem problem = ReadOption(reader, options)) {
            return Result::Failure(*problem);
        }
    }
    if (options.listenAddresses.empty()) {
        options.listenAddresses.emplace_back(kDefaultListenAddress);
    }
    if (options.tlsKey.has_value() != options.tlsCertificate.has_value()) {
        return Result::Failure("--tls-key and --tls-certificate go together");
    }
    if (options.makeTlsKey && !options.tlsKey) {
        return Result::Failure("--make-tls-key needs --tls-key FILE and --tls-certificate FILE");
    }
    if (options.root.empty() && !options.helpWanted && !options.makeTlsKey) {
        return Result::Failure("the release directory is missing (--root DIR)");
    }
    return Result::Success(std::move(options));
}

}  // namespace qm::server
