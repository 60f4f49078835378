// Runs the built kavoconv as a user's shell would, with chosen standard streams, and
// hands back what it printed and its exit status. One implementation per platform.
#ifndef KAVO_RUN_COMMAND_H
#define KAVO_RUN_COMMAND_H

#include <string>
#include <vector>

struct Invocation {
    std::vector<std::string> args;
    std::string input;          // standard input's bytes, unless inputPath is set
    std::string inputPath;      // standard input reads this file
    std::string outputPath;     // standard output appends to this file instead of being captured
    bool outputToPipe = false;  // capture standard output through a pipe rather than a file
    std::string cwd;            // working folder; the test's own when empty
};

struct CommandResult {
    int status = -1;   // exit status; -1 when the program did not run or end by itself
    std::string out;   // standard output's bytes, as written
    std::string err;   // standard error, with Windows line ends made LF
};

CommandResult RunKavoconv(const Invocation &invocation);

// The built kavoconv, beside the test program.
std::string KavoconvProgram();

// The folder under which kavoconv makes its private folders for in-place conversions
// (tests point it into a scratch folder where the platform allows).
std::string WorkRoot();

// A new empty scratch folder.
std::string MakeScratchDir();

#endif
