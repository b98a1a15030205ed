#include "support/posix_features.h"

namespace qm::test {

std::string_view WhyMissing(PosixFeature feature) {
    switch (feature) {
        case PosixFeature::PermissionBits:
            return "Windows keeps no POSIX permission bits: read and write rights are ACLs, and "
                   "chmod only sets the read-only attribute";
        case PosixFeature::SymbolicLinks:
            return "symbolic links on Windows need a privilege (or developer mode), and wine "
                   "makes none that the file calls follow as links";
        case PosixFeature::FileSizeLimit:
            return "Windows has no per-process limit on the size of files (RLIMIT_FSIZE)";
        case PosixFeature::NamedPipes:
            return "Windows has no named pipes in the file system (mkfifo)";
        case PosixFeature::ColonsInNames:
            return "a ':' in a Windows file name names a drive or an alternate data stream";
        case PosixFeature::DirectoriesOpenAsFiles:
            return "CreateFileW opens no directory for reading as a file (without backup "
                   "semantics), so no read of one can fail";
        case PosixFeature::ScriptPrograms:
            return "Windows starts programs (.exe), not \"#!\" scripts; the launch of a Windows "
                   "program is tested in tests/win";
    }
    return {};
}

bool MakeNamedPipe(std::filesystem::path const&) {
    return false;
}

FileSizeLimit::FileSizeLimit(std::uint64_t) {}

FileSizeLimit::~FileSizeLimit() = default;

}  // namespace qm::test
