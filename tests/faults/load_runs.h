// Load on the reference server: many update runs one after another, and many updaters at once.
// Every run must complete; the server's open descriptors must come back to their level before the
// load and its resident memory must not keep growing; the updaters' peak memory must stay flat.
#pragma once

#include <cstddef>
#include <string>

namespace qm::test {

// `runs` update runs one after another, each from the outdated state of a small release.
void RunConsecutively(std::string const& address, std::size_t runs);
// `waves` times, `atOnce` updaters started together, each from the outdated state.
void RunManyAtOnce(std::string const& address, std::size_t atOnce, std::size_t waves);

}  // namespace qm::test
