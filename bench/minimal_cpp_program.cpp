// The least a C++ program does: it links the C++ runtime (libstdc++, as the updater does), builds
// a string and prints it. The time from its spawn to that line is what starting any such program
// costs on the machine: the exec, the dynamic loader and the runtime's relocations, none of it
// the updater's own doing.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    std::string const name(argc > 0 ? argv[0] : "");
    std::puts(name.c_str());
    std::fflush(stdout);
    return 0;
}
