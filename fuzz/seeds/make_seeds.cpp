// make_seeds DIR: writes the seed corpora of the fuzz harnesses into DIR/session, DIR/welcome,
// DIR/profile and DIR/path.
#include <cstdio>
#include <exception>
#include <string>

#include "seeds/seed_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_seeds DIR\n", stderr);
        return 2;
    }
    std::string const directory = argv[1];
    try {
        using namespace qm::fuzz::seeds;
        SeedWriter session(directory + "/session");
        WriteSessionSeeds(session);
        SeedWriter welcome(directory + "/welcome");
        WriteWelcomeSeeds(welcome);
        SeedWriter profile(directory + "/profile");
        WriteProfileSeeds(profile);
        SeedWriter path(directory + "/path");
        WritePathSeeds(path);
        std::printf("make_seeds: %d session, %d welcome, %d profile, %d path seeds in %s\n",
                    session.written(), welcome.written(), profile.written(), path.written(),
                    directory.c_str());
    } catch (std::exception const& error) {
        std::fprintf(stderr, "make_seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
