#include "update_server/server_options.h"

namespace qm::server {
namespace {

constexpr std::string_view kUsage =
    "Usage: quillmesh-update-server --root DIR [--listen ADDRESS] [--delete FILE]\n"
    "                               [--tls-key FILE --tls-certificate FILE]\n"
    "       quillmesh-update-server --make-tls-key --tls-key FILE --tls-certificate FILE\n"
    "       quillmesh-update-server --help\n"
    "\n"
    "Serves the release in DIR to quillmesh updaters on TCP port 34005.\n"
    "\n"
    "  --root DIR        the release: the files directly in DIR form the list quillmesh.ini,\n"
    "                    each top-level directory D the list D.ini with every file below it.\n"
    "                    DIR is scanned at start and again on SIGHUP.\n"
    "  --listen ADDRESS  the IPv4 address to listen on (default 127.0.0.1; 0.0.0.0 for all).\n"
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
    "  --help            print this text.\n"
    "\n"
    "Paths are relative, use '/' between directories and have at most 63 characters.\n"
    "The log goes to standard output (a problem that stops the server to standard error\n"
    "too). SIGINT and SIGTERM stop the server.\n"
    "Exit status: 0 stopped by a signal, 1 cannot serve (release, deletion list, address),\n"
    "2 bad command line.\n";

using Result = Outcome<ServerOptions>;

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

}  // namespace

std::string_view ServerUsage() {
    return kUsage;
}

Result ParseServerOptions(std::span<char const* const> arguments) {
    ServerOptions options;
    bool rootGiven = false;
    ArgumentReader reader(arguments);
    while (!reader.done()) {
        Argument const argument = Split(reader.Take());
        if (argument.name == "--help" && !argument.inlineValue) {
            options.helpWanted = true;
            continue;
        }
        if (argument.name == "--make-tls-key" && !argument.inlineValue) {
            options.makeTlsKey = true;
            continue;
        }
        if (argument.name != "--root" && argument.name != "--listen" &&
            argument.name != "--delete" && argument.name != "--tls-key" &&
            argument.name != "--tls-certificate") {
            return Result::Failure("unknown option '" + std::string(argument.name) + "'");
        }
        std::optional<std::string_view> const value = reader.ValueOf(argument);
        if (!value || value->empty()) {
            return Result::Failure("option " + std::string(argument.name) + " needs a value");
        }
        if (argument.name == "--root") {
            options.root = *value;
            rootGiven = true;
        } else if (argument.name == "--listen") {
            options.listenAddress = *value;
        } else if (argument.name == "--tls-key") {
            options.tlsKey = std::filesystem::path(*value);
        } else if (argument.name == "--tls-certificate") {
            options.tlsCertificate = std::filesystem::path(*value);
        } else {
            options.deletionFile = std::filesystem::path(*value);
        }
    }
    if (options.tlsKey.has_value() != options.tlsCertificate.has_value()) {
        return Result::Failure("--tls-key and --tls-certificate go together");
    }
    if (options.makeTlsKey && !options.tlsKey) {
        return Result::Failure("--make-tls-key needs --tls-key FILE and --tls-certificate FILE");
    }
    if (!rootGiven && !options.helpWanted && !options.makeTlsKey) {
        return Result::Failure("the release directory is missing (--root DIR)");
    }
    return Result::Success(std::move(options));
}

}  // namespace qm::server
