// Throughput of the transcoder: in memory on every path this processor has (on blocks
// held in the cache, as the stream converts a block it has read, and on the whole file at
// once, streaming from memory as a block read in place does), beside memcpy of the same
// bytes the same way, and file to file beside `cp` of the same file, interleaved so that
// both see the same machine. Figures are MB/s of input (10^6 bytes).
// Usage: kavo_bench SJIS_CRLF_FILE EUC_LF_FILE [ROUNDS [memory | files]]
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

// The transcoder alone, over the whole file in one call: the text streams from memory.
// Adds the time to times[0].
void ConvertWhole(const std::vector<unsigned char> &input, unsigned char direction, unsigned char newlines,
                  std::vector<double> *times) {
    static std::vector<unsigned char> out;
    out.resize(TranscodeOutputCapacity(input.size()));
    size_t consumed;
    Clock::time_point start = Clock::now();
    size_t produced = TranscodeChunk(input.data(), input.size(), 1, direction, newlines, out.data(), &consumed);
    times->push_back(Seconds(start));
    if (consumed != input.size() || produced == 0) exit(3);
}

// The transcoder alone on blocks in the cache: each block of the file is first copied into
// a block buffer (not timed), then converted from there. Adds each block's time to times.
void ConvertBlocks(const std::vector<unsigned char> &input, unsigned char direction, unsigned char newlines,
                   std::vector<double> *times) {
    static std::vector<unsigned char> block(TRANSCODE_BLOCK_SIZE);
    static std::vector<unsigned char> out(TranscodeOutputCapacity(TRANSCODE_BLOCK_SIZE));
    for (size_t at = 0; at < input.size(); at += TRANSCODE_BLOCK_SIZE) {
        size_t length = std::min((size_t)TRANSCODE_BLOCK_SIZE, input.size() - at);
        memcpy(block.data(), input.data() + at, length);
        size_t consumed;
        Clock::time_point start = Clock::now();
        size_t produced = TranscodeChunk(block.data(), length, 1, direction, newlines, out.data(), &consumed);
        times->push_back(Seconds(start));
        if (consumed != length || produced == 0) exit(3);
    }
}

// The same two ways with memcpy in place of the conversion: what memory and the caches
// allow at most, the bytes read once and as many written.
void CopyWhole(const std::vector<unsigned char> &input, unsigned char, unsigned char, std::vector<double> *times) {
    static std::vector<unsigned char> out;
    out.resize(TranscodeOutputCapacity(input.size()));
    Clock::time_point start = Clock::now();
    memcpy(out.data(), input.data(), input.size());
    times->push_back(Seconds(start));
    if (out[input.size() / 2] != input[input.size() / 2]) exit(3);
}

void CopyBlocks(const std::vector<unsigned char> &input, unsigned char, unsigned char, std::vector<double> *times) {
    static std::vector<unsigned char> block(TRANSCODE_BLOCK_SIZE);
    static std::vector<unsigned char> out(TranscodeOutputCapacity(TRANSCODE_BLOCK_SIZE));
    for (size_t at = 0; at < input.size(); at += TRANSCODE_BLOCK_SIZE) {
        size_t length = std::min((size_t)TRANSCODE_BLOCK_SIZE, input.size() - at);
        memcpy(block.data(), input.data() + at, length);
        Clock::time_point start = Clock::now();
        memcpy(out.data(), block.data(), length);
        times->push_back(Seconds(start));
    }
}

// MB/s on every path this processor can run, the paths taking turns round by round. The
// machine is shared, so what counts is each block's fastest time over the rounds (a round
// another program interrupts is slower, never faster), added up over the blocks.
typedef void (*Conversion)(const std::vector<unsigned char> &, unsigned char, unsigned char, std::vector<double> *);
void MemoryTable(const char *title, Conversion convert, Conversion copy, const char *const files[2],
                 const char *const names[2], int rounds) {
    const char *paths[TRANSCODE_MAX_PATHS];
    int pathCount = TranscodePaths(paths);
    printf("%s, each block's fastest of %d rounds:\n\n| Conversion |", title, rounds);
    for (int p = 0; p < pathCount; p++) printf(" %s |", paths[p]);
    printf(" memcpy |\n|---|");
    for (int p = 0; p <= pathCount; p++) printf("---:|");
    printf("\n");
    for (int direction = 0; direction < 2; direction++) {
        std::vector<unsigned char> input = ReadWhole(files[direction]);
        for (int newlines = 0; newlines < 2; newlines++) {
            // The paths, and memcpy last.
            std::vector<std::vector<double>> fastest(pathCount + 1);
            for (int r = 0; r < rounds; r++) {
                for (int p = 0; p <= pathCount; p++) {
                    std::vector<double> times;
                    if (p < pathCount) {
                        TranscodeSelectPath(paths[p]);
                        convert(input, (unsigned char)direction, (unsigned char)newlines, &times);
                    } else {
                        copy(input, 0, 0, &times);
                    }
                    if (r == 0) fastest[p] = times;
                    for (size_t b = 0; b < times.size(); b++) fastest[p][b] = std::min(fastest[p][b], times[b]);
                }
            }
            std::string what = std::string(names[direction]) + (newlines ? ", newlines converted" : "");
            printf("| %s |", what.c_str());
            for (int p = 0; p <= pathCount; p++) {
                double total = 0;
                for (double t : fastest[p]) total += t;
                printf(" %.0f |", input.size() / total / 1e6);
            }
            printf("\n");
        }
    }
    printf("\n");
    TranscodeSelectPath(paths[pathCount - 1]);
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
        fprintf(stderr, "usage: %s SJIS_CRLF_FILE EUC_LF_FILE [ROUNDS [memory | files]]\n", argv[0]);
        return 2;
    }
    int rounds = argc > 3 ? atoi(argv[3]) : 7;
    const char *only = argc > 4 ? argv[4] : "";
    const char *files[2] = {argv[1], argv[2]};
    const char *names[2] = {"Shift_JIS -> EUC-JP", "EUC-JP -> Shift_JIS"};

    if (strcmp(only, "files") != 0) {
        MemoryTable("In memory, MB/s, 1 MiB blocks held in the cache", ConvertBlocks, CopyBlocks, files, names, rounds);
        MemoryTable("In memory, MB/s, the whole file in one call", ConvertWhole, CopyWhole, files, names, rounds);
    }
    if (strcmp(only, "memory") == 0) return 0;
    printf("File to file on the %s path, median of %d rounds, interleaved with cp:\n", TranscodeCurrentPath(),
           rounds);

    // File to file, two ways: each round into a new file, and each round over the file
    // the last round wrote (a 100 MiB file being truncated first). Dirty pages are flushed
    // before every timed run, so that neither is timed while the system writes the other's
    // output out.
    for (int overwrite = 0; overwrite < 2; overwrite++) {
        printf("\n| File to file, %s | MB/s | cp MB/s | time / cp |\n|---|---:|---:|---:|\n",
               overwrite ? "over an existing file" : "into a new file");
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
                printf("| %s | %.0f | %.0f | %.2f |\n", what.c_str(), size / t / 1e6, size / c / 1e6, t / c);
            }
            unlink(dest.c_str());
            unlink(copy.c_str());
        }
    }
    return 0;
}
