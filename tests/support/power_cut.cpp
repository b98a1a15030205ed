#include "support/power_cut.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>
#include <stdexcept>

#include "support/temp_dir.h"

namespace qm::test {
namespace fs = std::filesystem;

namespace {

// One unflushed change of a file's data or permission bits.
struct DataChange {
    enum class Kind { Write, Truncate, Mode } kind;
    std::uint64_t offset = 0;  // of a write; the length of a truncation
    std::string bytes;
    mode_t mode = 0;
};

// One unflushed change of a directory's entries: names set to a node, names removed.
struct EntryChange {
    std::map<std::string, int> set;
    std::vector<std::string> removed;
};

struct Node {
    bool directory = false;
    // A file: what the program sees, what is on disk, and the changes between the two.
    std::string data;
    mode_t mode = 0;
    std::string durableData;
    mode_t durableMode = 0;
    std::vector<DataChange> pendingData;
    // A directory: the same for its entries.
    std::map<std::string, int> entries;
    std::map<std::string, int> durableEntries;
    std::vector<EntryChange> pendingEntries;
};

void ApplyData(std::string& data, mode_t& mode, DataChange const& change) {
    switch (change.kind) {
        case DataChange::Kind::Write:
            if (data.size() < change.offset + change.bytes.size()) {
                data.resize(change.offset + change.bytes.size(), '\0');
            }
            data.replace(change.offset, change.bytes.size(), change.bytes);
            break;
        case DataChange::Kind::Truncate:
            data.resize(change.offset, '\0');
            break;
        case DataChange::Kind::Mode:
            mode = change.mode;
            break;
    }
}

void ApplyEntries(std::map<std::string, int>& entries, EntryChange const& change) {
    for (std::string const& name : change.removed) {
        entries.erase(name);
    }
    for (auto const& [name, node] : change.set) {
        entries[name] = node;
    }
}

// How many of `pending` changes survive the cut.
std::size_t Surviving(PowerCutLoss loss, std::size_t pending, std::mt19937& random) {
    switch (loss) {
        case PowerCutLoss::AllUnflushed:
            return 0;
        case PowerCutLoss::NothingLost:
            return pending;
        case PowerCutLoss::RandomTails:
            return pending == 0 ? 0
                                : std::uniform_int_distribution<std::size_t>(0, pending)(random);
    }
    return 0;
}

}  // namespace

struct PowerCutReplay::Model {
    struct OpenFile {
        int node = 0;
        std::uint64_t offset = 0;
        bool append = false;
    };

    fs::path root;
    mode_t umask = 022;
    std::vector<Node> nodes;  // nodes[0] is the root directory
    std::map<int, std::shared_ptr<OpenFile>> descriptors;

    // The path below the root, "" for the root itself; nothing for a path outside it.
    std::optional<fs::path> Inside(fs::path const& path) const {
        fs::path const normal = path.lexically_normal();
        fs::path const relative = normal.lexically_relative(root);
        if (relative.empty() || *relative.begin() == "..") {
            return std::nullopt;
        }
        return relative == "." ? fs::path() : relative;
    }

    std::optional<int> Find(fs::path const& relative) const {
        int node = 0;
        for (fs::path const& part : relative) {
            auto const found = nodes[node].entries.find(part.string());
            if (!nodes[node].directory || found == nodes[node].entries.end()) {
                return std::nullopt;
            }
            node = found->second;
        }
        return node;
    }

    int Parent(fs::path const& relative) const {
        std::optional<int> const parent = Find(relative.parent_path());
        if (!parent || !nodes[*parent].directory) {
            throw std::runtime_error("no directory for " + relative.string());
        }
        return *parent;
    }

    int NewNode(bool directory, mode_t mode) {
        Node node;
        node.directory = directory;
        node.mode = node.durableMode = mode;
        nodes.push_back(std::move(node));
        return static_cast<int>(nodes.size() - 1);
    }

    void ChangeEntries(int directory, EntryChange change) {
        ApplyEntries(nodes[directory].entries, change);
        nodes[directory].pendingEntries.push_back(std::move(change));
    }

    void ChangeData(int file, DataChange change) {
        ApplyData(nodes[file].data, nodes[file].mode, change);
        nodes[file].pendingData.push_back(std::move(change));
    }

    void Flush(int index) {
        Node& node = nodes[index];
        node.durableData = node.data;
        node.durableMode = node.mode;
        node.pendingData.clear();
        node.durableEntries = node.entries;
        node.pendingEntries.clear();
    }

    void Load(fs::path const& directory, int into) {
        for (auto const& entry : fs::directory_iterator(directory)) {
            struct stat status {};
            if (::lstat(entry.path().c_str(), &status) != 0) {
                throw std::runtime_error("cannot read " + entry.path().string());
            }
            int node = 0;
            if (S_ISDIR(status.st_mode)) {
                node = NewNode(true, status.st_mode & 07777);
                Load(entry.path(), node);
            } else if (S_ISREG(status.st_mode)) {
                node = NewNode(false, status.st_mode & 07777);
                nodes[node].data = nodes[node].durableData = ReadFile(entry.path());
            } else {
                throw std::runtime_error("neither file nor directory: " + entry.path().string());
            }
            nodes[into].entries[entry.path().filename().string()] = node;
        }
        nodes[into].durableEntries = nodes[into].entries;
    }

    // The path a call names through a directory descriptor argument (or the working directory)
    // and a path argument.
    std::optional<fs::path> PathOf(TracedCall const& call, std::optional<std::size_t> dirArgument,
                                   std::size_t pathArgument) const {
        std::optional<std::string> const name = call.String(pathArgument);
        if (!name) {
            throw std::runtime_error(call.name + ": path cut short");
        }
        fs::path base = root;
        if (dirArgument && !fs::path(*name).is_absolute()) {
            std::optional<std::string> const directory = call.DescriptorPath(*dirArgument);
            if (!directory) {
                throw std::runtime_error(call.name + ": directory without a path");
            }
            base = *directory;
        }
        return Inside(base / *name);
    }

    OpenFile* Descriptor(TracedCall const& call) {
        std::optional<int> const fd = call.Descriptor(0);
        auto const found = fd ? descriptors.find(*fd) : descriptors.end();
        return found == descriptors.end() ? nullptr : found->second.get();
    }

    bool Open(TracedCall const& call, bool creates, bool truncates, mode_t mode) {
        int const fd = static_cast<int>(call.result);
        descriptors.erase(fd);
        std::optional<fs::path> const relative = Inside(call.resultPath);
        if (!relative) {
            return false;
        }
        bool changed = false;
        std::optional<int> node = Find(*relative);
        if (!node) {
            if (!creates) {
                throw std::runtime_error(call.name +
                                         " opened a file the model lacks: " + relative->string());
            }
            node = NewNode(false, mode & ~umask & 07777);
            ChangeEntries(Parent(*relative), {{{relative->filename().string(), *node}}, {}});
            changed = true;
        } else if (truncates && !nodes[*node].directory && !nodes[*node].data.empty()) {
            ChangeData(*node, {DataChange::Kind::Truncate, 0, {}, 0});
            changed = true;
        }
        descriptors[fd] = std::make_shared<OpenFile>(OpenFile{*node, 0, false});
        return changed;
    }

    bool OpenAt(TracedCall const& call) {
        bool const open = call.name == "open";
        std::size_t const flags = open ? 1 : 2;
        bool const creates = call.HasFlag(flags, "O_CREAT");
        mode_t const mode = creates ? static_cast<mode_t>(call.Number(flags + 1).value_or(0)) : 0;
        bool const changed = Open(call, creates, call.HasFlag(flags, "O_TRUNC"), mode);
        if (call.HasFlag(flags, "O_APPEND")) {
            descriptors[static_cast<int>(call.result)]->append = true;
        }
        return changed;
    }

    bool Write(TracedCall const& call, std::optional<std::uint64_t> at) {
        OpenFile* const file = Descriptor(call);
        if (file == nullptr || call.result <= 0) {
            return false;
        }
        std::optional<std::string> bytes = call.String(1);
        if (!bytes || bytes->size() < static_cast<std::size_t>(call.result)) {
            throw std::runtime_error("the bytes of a write were cut short: raise strace -s");
        }
        bytes->resize(static_cast<std::size_t>(call.result));
        std::uint64_t const offset = at             ? *at
                                     : file->append ? nodes[file->node].data.size()
                                                    : file->offset;
        if (!at) {
            file->offset = offset + bytes->size();
        }
        ChangeData(file->node, {DataChange::Kind::Write, offset, std::move(*bytes), 0});
        return true;
    }

    bool Rename(TracedCall const& call, std::optional<fs::path> const& from,
                std::optional<fs::path> const& to) {
        if (!from && !to) {
            return false;
        }
        if (!from || !to || from->parent_path() != to->parent_path()) {
            throw std::runtime_error("a rename between directories: " + call.arguments[0]);
        }
        std::optional<int> const node = Find(*from);
        if (!node) {
            throw std::runtime_error("a rename of a file the model lacks: " + from->string());
        }
        ChangeEntries(Parent(*from),
                      {{{to->filename().string(), *node}}, {from->filename().string()}});
        return true;
    }

    bool Remove(std::optional<fs::path> const& path, bool directory) {
        if (!path) {
            return false;
        }
        std::optional<int> const node = Find(*path);
        if (!node) {
            throw std::runtime_error("a removal of a file the model lacks: " + path->string());
        }
        if (directory && !nodes[*node].entries.empty()) {
            throw std::runtime_error("a removed directory that is not empty: " + path->string());
        }
        ChangeEntries(Parent(*path), {{}, {path->filename().string()}});
        return true;
    }

    bool MakeDirectory(std::optional<fs::path> const& path, mode_t mode) {
        if (!path) {
            return false;
        }
        int const node = NewNode(true, mode & ~umask & 07777);
        ChangeEntries(Parent(*path), {{{path->filename().string(), node}}, {}});
        return true;
    }

    bool Duplicate(TracedCall const& call) {
        int const copy = static_cast<int>(call.result);
        OpenFile* const file = Descriptor(call);
        auto const original =
            file == nullptr ? descriptors.end() : descriptors.find(*call.Descriptor(0));
        if (original == descriptors.end()) {
            descriptors.erase(copy);
        } else {
            descriptors[copy] = original->second;
        }
        return false;
    }

    bool Apply(TracedCall const& call) {
        std::string const& name = call.name;
        if (call.failed()) {
            return false;
        }
        if (name == "openat" || name == "open") {
            return OpenAt(call);
        }
        if (name == "creat") {
            return Open(call, true, true, static_cast<mode_t>(call.Number(1).value_or(0)));
        }
        if (name == "write") {
            return Write(call, std::nullopt);
        }
        if (name == "pwrite64") {
            return Write(call, static_cast<std::uint64_t>(call.Number(3).value_or(0)));
        }
        if (name == "lseek") {
            if (OpenFile* const file = Descriptor(call)) {
                file->offset = static_cast<std::uint64_t>(call.result);
            }
            return false;
        }
        if (name == "ftruncate" || name == "fchmod") {
            OpenFile* const file = Descriptor(call);
            if (file == nullptr) {
                return false;
            }
            auto const value = call.Number(1).value_or(0);
            ChangeData(file->node,
                       name == "ftruncate"
                           ? DataChange{DataChange::Kind::Truncate,
                                        static_cast<std::uint64_t>(value),
                                        {},
                                        0}
                           : DataChange{DataChange::Kind::Mode, 0, {}, static_cast<mode_t>(value)});
            return true;
        }
        if (name == "fsync" || name == "fdatasync") {
            OpenFile* const file = Descriptor(call);
            if (file != nullptr) {
                Flush(file->node);
            }
            return file != nullptr;
        }
        if (name == "sync" || name == "syncfs") {
            for (std::size_t node = 0; node < nodes.size(); ++node) {
                Flush(static_cast<int>(node));
            }
            return true;
        }
        if (name == "rename") {
            return Rename(call, PathOf(call, std::nullopt, 0), PathOf(call, std::nullopt, 1));
        }
        if (name == "renameat" || name == "renameat2") {
            if (name == "renameat2" && call.HasFlag(4, "RENAME_EXCHANGE")) {
                throw std::runtime_error("an exchange of names is not modelled");
            }
            return Rename(call, PathOf(call, 0, 1), PathOf(call, 2, 3));
        }
        if (name == "unlink" || name == "rmdir") {
            return Remove(PathOf(call, std::nullopt, 0), name == "rmdir");
        }
        if (name == "unlinkat") {
            return Remove(PathOf(call, 0, 1), call.HasFlag(2, "AT_REMOVEDIR"));
        }
        if (name == "mkdir") {
            return MakeDirectory(PathOf(call, std::nullopt, 0),
                                 static_cast<mode_t>(call.Number(1).value_or(0777)));
        }
        if (name == "mkdirat") {
            return MakeDirectory(PathOf(call, 0, 1),
                                 static_cast<mode_t>(call.Number(2).value_or(0777)));
        }
        if (name == "close") {
            if (std::optional<int> const fd = call.Descriptor(0)) {
                descriptors.erase(*fd);
            }
            return false;
        }
        if (name == "dup" || name == "dup2" || name == "dup3" ||
            (name == "fcntl" &&
             (call.HasFlag(1, "F_DUPFD") || call.HasFlag(1, "F_DUPFD_CLOEXEC")))) {
            return Duplicate(call);
        }
        if (name == "writev" || name == "truncate" || name == "chmod" || name == "fchmodat" ||
            name == "link" || name == "linkat" || name == "symlink" || name == "symlinkat") {
            bool const inside = (call.Descriptor(0) && Descriptor(call) != nullptr) ||
                                (call.String(0) && PathOf(call, std::nullopt, 0)) ||
                                (call.String(1) && PathOf(call, 0, 1));
            if (inside) {
                throw std::runtime_error(name + " inside the tree is not modelled");
            }
        }
        return false;
    }

    void Collect(int index, std::string const& prefix, PowerCutLoss loss, std::mt19937& random,
                 TreeImage& image, int depth) const {
        if (depth > 64) {
            throw std::runtime_error("a directory inside itself");
        }
        Node const& directory = nodes[index];
        std::map<std::string, int> entries = directory.durableEntries;
        std::size_t const kept = Surviving(loss, directory.pendingEntries.size(), random);
        for (std::size_t i = 0; i < kept; ++i) {
            ApplyEntries(entries, directory.pendingEntries[i]);
        }
        for (auto const& [name, child] : entries) {
            Node const& node = nodes[child];
            if (node.directory) {
                image[prefix + name + "/"] = {true, node.durableMode, {}};
                Collect(child, prefix + name + "/", loss, random, image, depth + 1);
                continue;
            }
            TreeImageEntry file{false, node.durableMode, node.durableData};
            std::size_t const written = Surviving(loss, node.pendingData.size(), random);
            for (std::size_t i = 0; i < written; ++i) {
                ApplyData(file.content, file.mode, node.pendingData[i]);
            }
            image[prefix + name] = std::move(file);
        }
    }
};

PowerCutReplay::PowerCutReplay(fs::path const& start, fs::path const& tracedRoot, mode_t umask)
    : model_(new Model) {
    model_->root = tracedRoot.lexically_normal();
    model_->umask = umask;
    model_->NewNode(true, 0755);
    model_->Load(start, 0);
}

PowerCutReplay::~PowerCutReplay() = default;

bool PowerCutReplay::Apply(TracedCall const& call) {
    return model_->Apply(call);
}

TreeImage PowerCutReplay::AfterCut(PowerCutLoss loss, std::mt19937& random) const {
    TreeImage image;
    model_->Collect(0, "", loss, random, image, 0);
    return image;
}

std::uint64_t ImageDigest(TreeImage const& image) {
    std::uint64_t digest = 14695981039346656037ull;
    auto const mix = [&](std::string_view bytes) {
        for (char const c : bytes) {
            digest = (digest ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
        }
        digest = (digest ^ 0xFF) * 1099511628211ull;
    };
    for (auto const& [path, entry] : image) {
        mix(path);
        mix(std::to_string(entry.mode));
        mix(entry.content);
    }
    return digest;
}

void WriteImage(TreeImage const& image, fs::path const& root) {
    fs::create_directories(root);
    for (auto const& [path, entry] : image) {
        fs::path const where = root / path;
        if (entry.directory) {
            fs::create_directories(where);
            continue;
        }
        if (!WriteFile(where, entry.content)) {
            throw std::runtime_error("cannot write " + where.string());
        }
        fs::permissions(where, static_cast<fs::perms>(entry.mode & 07777));
    }
    // Directories last, deepest first, so that their bits cannot stand in the way of the writes.
    for (auto entry = image.rbegin(); entry != image.rend(); ++entry) {
        if (entry->second.directory) {
            fs::permissions(root / entry->first,
                            static_cast<fs::perms>(entry->second.mode & 07777));
        }
    }
}

}  // namespace qm::test
