// Throughput of the transcoder: in memory, and file to file beside `cp` of the same file,
// interleaved so that both see the same machine. Figures are MB/s of input (10^6 bytes).
// Usage: kavo_bench SJIS_CRLF_FILE EUC_LF_FILE [ROUNDS]
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform.h"
#include "program_state.h"
#include "transcode.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::vector<unsigned char> ReadWhole(const char *path) {
    std::vector<unsigned char> data;
    FILE *f = fopen(path, "rb");
    if (!f) {
        perror(path);
        exit(2);
    }
    unsigned char block[1 << 16];
    size_t got;
    while ((got = fread(block, 1, sizeof block, f)) > 0) data.insert(data.end(), block, block + got);
    fclose(f);
    return data;
}

double InMemory(const std::vector<unsigned char> &input, unsigned char direction, unsigned char newlines,
                int rounds) {
    std::vector<unsigned char> out(TranscodeOutputCapacity(input.size()));
    std::vector<double> times;
    for (int r = 0; r < rounds; r++) {
        size_t consumed;
        Clock::time_point start = Clock::now();
        size_t produced = TranscodeChunk(input.data(), input.size(), 1, direction, newlines, out.data(), &consumed);
        times.push_back(Seconds(start));
        if (consumed != input.size() || produced == 0) exit(3);
    }
    return input.size() / Median(times) / 1e6;
}

double ConvertFileToFile(const char *source, const char *dest) {
    PlatformFile in, out;
    Clock::time_point start = Clock::now();
    if (!PlatformOpenSource(source, &in)) exit(4);
    if (!PlatformCreateOutput(dest, &out)) exit(4);
    TranscodeResult result = TranscodeStream(in, out);
    PlatformClose(in);
    if (!PlatformClose(out) || result != Completed) exit(5);
    return Seconds(start);
}

double Copy(const char *source, const char *dest) {
    char *argv[] = {const_cast<char *>("cp"), const_cast<char *>(source), const_cast<char *>(dest), nullptr};
    pid_t pid;
    int status;
    Clock::time_point start = Clock::now();
    if (posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0) exit(6);
    waitpid(pid, &status, 0);
    double elapsed = Seconds(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) exit(6);
    return elapsed;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s SJIS_CRLF_FILE EUC_LF_FILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    int rounds = argc > 3 ? atoi(argv[3]) : 7;
    const char *files[2] = {argv[1], argv[2]};
    const char *names[2] = {"Shift_JIS -> EUC-JP", "EUC-JP -> Shift_JIS"};

    // In memory on every path this processor can run; file to file on the best one.
    const char *paths[TRANSCODE_MAX_PATHS];
    int pathCount = TranscodePaths(paths);
    printf("| in memory (median of %d), MB/s               |", rounds);
    for (int p = 0; p < pathCount; p++) printf(" %8s |", paths[p]);
    printf("\n|----------------------------------------------|");
    for (int p = 0; p < pathCount; p++) printf("----------|");
    printf("\n");
    for (int direction = 0; direction < 2; direction++) {
        std::vector<unsigned char> input = ReadWhole(files[direction]);
        for (int newlines = 0; newlines < 2; newlines++) {
            std::string what = std::string(names[direction]) + (newlines ? ", newlines converted" : "");
            printf("| %-44s |", what.c_str());
            for (int p = 0; p < pathCount; p++) {
                TranscodeSelectPath(paths[p]);
                printf(" %8.0f |", InMemory(input, (unsigned char)direction, (unsigned char)newlines, rounds));
            }
            printf("\n");
        }
    }
    TranscodeSelectPath(paths[pathCount - 1]);
    printf("\nFile to file on the %s path.\n", TranscodeCurrentPath());

    // File to file, two ways: each round into a new file, and each round over the file
    // the last round wrote (a 100 MiB file being truncated first). Dirty pages are flushed
    // before every timed run, so that neither is timed while the system writes the other's
    // output out.
    for (int overwrite = 0; overwrite < 2; overwrite++) {
        printf("\n| file to file, %-31s| MB/s | cp MB/s | time / cp |\n",
               overwrite ? "over an existing file" : "into a new file");
        printf("|----------------------------------------------|------|---------|-----------|\n");
        for (int direction = 0; direction < 2; direction++) {
            std::string dest = std::string(files[direction]) + ".bench-out";
            std::string copy = std::string(files[direction]) + ".bench-cp";
            double size = (double)ReadWhole(files[direction]).size();
            for (int newlines = 0; newlines < 2; newlines++) {
                ProgramState.direction = (unsigned char)direction;
                ProgramState.convertNewlines = (unsigned char)newlines;
                std::vector<double> ours, cps;
                if (overwrite) {
                    Copy(files[direction], copy.c_str());
                    ConvertFileToFile(files[direction], dest.c_str());
                }
                for (int r = 0; r < rounds; r++) {
                    if (!overwrite) unlink(copy.c_str());
                    sync();
                    cps.push_back(Copy(files[direction], copy.c_str()));
                    if (!overwrite) unlink(dest.c_str());
                    sync();
                    ours.push_back(ConvertFileToFile(files[direction], dest.c_str()));
                }
                std::string what = std::string(names[direction]) + (newlines ? ", newlines converted" : "");
                double t = Median(ours), c = Median(cps);
                printf("| %-44s | %4.0f | %7.0f | %9.2f |\n", what.c_str(), size / t / 1e6, size / c / 1e6, t / c);
            }
            unlink(dest.c_str());
            unlink(copy.c_str());
        }
    }
    return 0;
}
