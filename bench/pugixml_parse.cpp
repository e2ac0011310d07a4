// The yardstick of bench_check: a process that parses a file with pugixml, as a program using it
// would (load_file reads the file and parses it in place), and prints how many members it holds.
#include <pugixml.hpp>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2)
        return 1;
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_file(argv[1]);
    if (!parsed) {
        std::fprintf(stderr, "%s\n", parsed.description());
        return 1;
    }
    int members = 0;
    for ([[maybe_unused]] const pugi::xml_node member : document.child("squad").children("member"))
        ++members;
    std::printf("%d members\n", members);
    return 0;
}
