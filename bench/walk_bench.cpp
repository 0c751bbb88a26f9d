// Walks a folder tree the way a run builds its file list and prints how many files it listed,
// so the walk can be timed against other tools on the same tree.
//   walk_bench FOLDER [MASK]
// The results are kept until the process ends, as a run keeps them for its reports; the process
// then ends without taking them apart one by one.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/file_finder.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: walk_bench FOLDER [MASK]\n");
        return 2;
    }
    auto* finder = new ferret::FileFinder;
    finder->SetStartDirectory(argv[1]);
    finder->SetFilterMask(argc > 2 ? argv[2] : "*.*");
    finder->SetRecursive(true);
    const auto began = std::chrono::steady_clock::now();
    finder->PerformSearch();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    std::printf("%d files listed, %d entries seen, walk %.1f ms\n", finder->Files().Count(),
                finder->Searched(), ms);
    std::fflush(stdout);
    std::_Exit(0);
}
