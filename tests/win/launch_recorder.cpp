// A stand-in for the client program in the Windows runs: says that it was started, and with
// which arguments, by adding a line to the file that QM_LAUNCHES names. A program of the GUI
// subsystem, as the client program is.
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    std::string line = "quillmesh started with arguments:";
    for (int i = 1; i < argc; ++i) {
        line.append(" ").append(argv[i]);
    }
    char const* const launches = std::getenv("QM_LAUNCHES");
    if (launches == nullptr) {
        return 1;
    }
    std::FILE* const out = std::fopen(launches, "ab");
    if (out == nullptr) {
        return 1;
    }
    std::fprintf(out, "%s\n", line.c_str());
    return std::fclose(out) == 0 ? 0 : 1;
}
