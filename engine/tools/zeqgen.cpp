// Writes a generated model of any size: zeqgen BLOCKS VARS_PER_BLOCK [--hierarchies] > model
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "modelfile.h"
#include "zeq_testing.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s BLOCKS VARS_PER_BLOCK [--hierarchies]\n", argv[0]);
        return 2;
    }
    long blocks = std::strtol(argv[1], nullptr, 10), vars = std::strtol(argv[2], nullptr, 10);
    if (blocks < 0 || vars < 1 || blocks > 10000000 || vars > 10000000 || blocks * vars > 100000000) {
        std::fprintf(stderr, "sizes out of range\n");
        return 2;
    }
    bool hier = argc > 3 && std::strcmp(argv[3], "--hierarchies") == 0;
    std::cout << zeq::WriteModel(zeq::testing::GenerateModel(static_cast<int>(blocks), static_cast<int>(vars), hier));
    return 0;
}
