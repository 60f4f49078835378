// Throughput of kavoconv's encoding guess in memory, on every path this processor has: the
// guess alone (-g) and with the guard's count of damaged characters (-i), each file read
// into memory first and guessed whole, the paths taking turns round by round. Figures are
// MB/s of input (10^6 bytes), each path's fastest round.
// Usage: kavo_guess_bench FILE... [-r ROUNDS] [-p PATH (only that one)]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "guess.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<unsigned char> ReadWhole(const char *path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "%s: cannot be read\n", path);
        exit(2);
    }
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double GuessSeconds(const std::vector<unsigned char> &text, int direction, GuessResult *result) {
    Clock::time_point start = Clock::now();
    GuessState state;
    GuessStart(&state);
    if (direction >= 0) GuessCheckDamage(&state, direction);
    GuessFeed(&state, text.data(), text.size());
    GuessFinish(&state, result);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
    int rounds = 7;
    const char *only = nullptr;
    std::vector<const char *> files;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-r") == 0 && i + 1 < argc)
            rounds = atoi(argv[++i]);
        else if (strcmp(argv[i], "-p") == 0 && i + 1 < argc)
            only = argv[++i];
        else
            files.push_back(argv[i]);
    }
    if (files.empty() || rounds < 1 || (only && !GuessSelectPath(only))) {
        fprintf(stderr, "usage: %s FILE... [-r ROUNDS] [-p PATH]\n", argv[0]);
        return 2;
    }
    const char *paths[GUESS_MAX_PATHS];
    int pathCount = GuessPaths(paths);
    if (only) {
        paths[0] = only;
        pathCount = 1;
    }
    printf("Guess in memory, MB/s, fastest of %d rounds:\n\n| File | guessed | mode |", rounds);
    for (int p = 0; p < pathCount; p++) printf(" %s |", paths[p]);
    printf("\n|---|---|---|");
    for (int p = 0; p < pathCount; p++) printf("---:|");
    printf("\n");
    for (const char *file : files) {
        const std::vector<unsigned char> text = ReadWhole(file);
        // -g, and the guard of -i towards the other encoding from the one guessed.
        GuessResult result;
        GuessSeconds(text, -1, &result);
        const int direction = result.encoding == GUESS_EUC_JP ? 1 : 0;
        for (int mode = -1; mode <= direction; mode += direction + 1) {
            std::vector<double> fastest(pathCount, 1e9);
            for (int r = 0; r < rounds; r++) {
                for (int p = 0; p < pathCount; p++) {
                    GuessSelectPath(paths[p]);
                    fastest[p] = std::min(fastest[p], GuessSeconds(text, mode, &result));
                }
            }
            const char *name = strrchr(file, '/') ? strrchr(file, '/') + 1 : file;
            printf("| %s | %s | %s |", name, GuessedEncodingName(result.encoding), mode < 0 ? "-g" : "guard of -i");
            for (int p = 0; p < pathCount; p++) printf(" %.0f |", text.size() / fastest[p] / 1e6);
            printf("\n");
        }
    }
    return 0;
}
