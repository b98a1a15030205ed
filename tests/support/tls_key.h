// A fresh TLS key and certificate made by the reference server (--make-tls-key), and the key's
// pin for the updaters' PIN.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qm::test {

struct TlsKey {
    // Makes NAME.key and NAME.crt in `directory`; `pin` stays empty when that failed.
    TlsKey(std::filesystem::path const& directory, std::string const& name);
    // --tls-key KEY --tls-certificate CERTIFICATE
    std::vector<std::string> ServerArguments() const;

    std::filesystem::path key;
    std::filesystem::path certificate;
    std::string pin;
};

}  // namespace qm::test
