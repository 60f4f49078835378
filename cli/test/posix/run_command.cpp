// Runs kavoconv with fork and exec. Every run of this test process shares one scratch
// cache folder (XDG_CACHE_HOME) and the Japanese UTF-8 locale, so messages are the
// dialog's texts and compare as UTF-8 bytes.
#include "run_command.h"

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "kavoconv_test.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A plain array, not a std::string: the clean-up at exit runs after static destructors.
char scratchRoot[4096];

void RemoveScratch() { fs::remove_all(scratchRoot); }

std::string Scratch() {
    if (!scratchRoot[0]) {
        std::string base = (fs::temp_directory_path() / "kavoconv-test-XXXXXX").string();
        if (base.size() >= sizeof scratchRoot || !mkdtemp(&base[0])) abort();
        memcpy(scratchRoot, base.c_str(), base.size() + 1);
        setenv("XDG_CACHE_HOME", (base + "/cache").c_str(), 1);
        setenv("LC_ALL", "ja_JP.UTF-8", 1);
        unsetenv("LANGUAGE");
        atexit(RemoveScratch);
    }
    return scratchRoot;
}

void Redirect(const std::string &path, int flags, int target) {
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0 || dup2(fd, target) < 0) _exit(126);
    close(fd);
}

}  // namespace

std::string SystemReason(Reason reason) {
    static locale_t japanese = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", (locale_t)0);
    const int codes[] = {ENOENT, ENOENT, EISDIR, EACCES};
    return japanese ? strerror_l(codes[reason], japanese) : "(ja_JP.UTF-8 is not installed)";
}

std::string KavoconvProgram() {
    char self[MAX_PATH + 1];
    if (!PlatformGetExecutablePath(self, sizeof self)) abort();
    return (fs::path(self).parent_path() / "kavoconv").string();
}


std::string WorkRoot() {
    Scratch();
    return std::string(getenv("XDG_CACHE_HOME")) + "/kavo";
}

std::string MakeScratchDir() {
    static int count;
    std::string dir = Scratch() + "/t" + std::to_string(++count);
    fs::create_directories(dir);
    return dir;
}

CommandResult RunKavoconv(const Invocation &invocation) {
    const std::string io = MakeScratchDir();
    const std::string inPath = invocation.inputPath.empty() ? io + "/stdin" : invocation.inputPath;
    if (invocation.inputPath.empty()) std::ofstream(inPath, std::ios::binary) << invocation.input;
    const std::string program = KavoconvProgram();
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : invocation.args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    int pipeEnds[2] = {-1, -1};
    if (invocation.outputToPipe && pipe(pipeEnds) != 0) return CommandResult();
    pid_t child = fork();
    if (child == 0) {
        if (!invocation.cwd.empty() && chdir(invocation.cwd.c_str()) != 0) _exit(126);
        Redirect(inPath, O_RDONLY, 0);
        if (invocation.outputToPipe) {
            dup2(pipeEnds[1], 1);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
        } else if (!invocation.outputPath.empty()) {
            Redirect(invocation.outputPath, O_WRONLY | O_APPEND | O_CREAT, 1);
        } else {
            Redirect(io + "/stdout", O_WRONLY | O_CREAT | O_TRUNC, 1);
        }
        Redirect(io + "/stderr", O_WRONLY | O_CREAT | O_TRUNC, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    CommandResult result;
    if (invocation.outputToPipe) {
        close(pipeEnds[1]);
        char block[4096];
        ssize_t got;
        while ((got = read(pipeEnds[0], block, sizeof block)) > 0) result.out.append(block, (size_t)got);
        close(pipeEnds[0]);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!invocation.outputToPipe && invocation.outputPath.empty()) result.out = ReadAll(io + "/stdout");
    result.err = ReadAll(io + "/stderr");
    return result;
}
