// aribtables: writes tsinfo/characterSetsData.cpp, or checks that the
// committed file is what it would write.
//   aribtables SYMBOLS.tsv OUTPUT.cpp          write OUTPUT.cpp
//   aribtables --check SYMBOLS.tsv FILE.cpp    exit 1 when FILE.cpp differs
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "TableGenerator.h"

int main(int argc, char** argv) {
    bool check = argc == 4 && std::strcmp(argv[1], "--check") == 0;
    if (!check && argc != 3) {
        std::cerr << "usage: aribtables [--check] SYMBOLS.tsv FILE.cpp\n";
        return 2;
    }
    const char* symbols = argv[check ? 2 : 1];
    const char* file = argv[check ? 3 : 2];

    aribtables::Tables tables;
    std::string err;
    if (!aribtables::buildTables(symbols, tables, err)) {
        std::cerr << "aribtables: " << err << "\n";
        return 2;
    }
    std::string source = aribtables::renderSource(tables);

    if (check) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        if (!in || ss.str() != source) {
            std::cerr << "aribtables: " << file << " is not what the generator produces; build aribtables_generate\n";
            return 1;
        }
        return 0;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << source;
    out.close();
    if (!out) {
        std::cerr << "aribtables: cannot write " << file << "\n";
        return 2;
    }
    return 0;
}
