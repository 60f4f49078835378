// Runs kavoconv.exe with CreateProcessA and inherited handles, as cmd.exe would for
// `kavoconv ... <in >out 2>err`.
#include "run_command.h"

#include <windows.h>
#include <shlobj.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "kavoconv_test.h"
#include "platform.h"
#include "start_command.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

HANDLE Inheritable(const std::string &path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

// Quotes every argument. Backslashes before the closing quote are doubled, as the
// runtime's parser expects, so that a folder name may end in one; the second byte of a
// two-byte character is not one, though it may be 0x5C. The arguments hold no quotes.
// One with a wildcard (* or ?) goes as a user types it in cmd.exe, unquoted: a quoted
// one is not expanded by every runtime.
std::string CommandLine(const std::string &program, const std::vector<std::string> &args) {
    std::string line = "\"" + program + "\"";
    for (const std::string &arg : args) {
        if (arg.find_first_of("*?") != std::string::npos) {
            line += " " + arg;
            continue;
        }
        size_t trailing = 0;
        for (size_t i = 0; i < arg.size(); i++) {
            if (IsDBCSLeadByte(static_cast<BYTE>(arg[i])) && i + 1 < arg.size()) {
                i++;
                trailing = 0;
            } else {
                trailing = arg[i] == '\\' ? trailing + 1 : 0;
            }
        }
        line += " \"" + arg + std::string(trailing, '\\') + "\"";
    }
    return line;
}

}  // namespace

std::string WindowsReason(DWORD code) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, text,
                                  sizeof text, NULL);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) length--;
    return std::string(text, length);
}

std::string SystemReason(Reason reason) {
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED};
    return WindowsReason(codes[reason]);
}

std::string KavoconvProgram() {
    char self[MAX_PATH + 1];
    if (!PlatformGetExecutablePath(self, sizeof self)) abort();
    return (fs::path(self).parent_path() / "kavoconv.exe").string();
}


std::string WorkRoot() {
    char path[MAX_PATH + 1];
    if (SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, path) != S_OK) abort();
    return std::string(path) + "\\kavo";
}

// A plain array, not a std::string: the clean-up at exit runs after static destructors.
char scratchRoot[MAX_PATH + 1];

// Removes a folder and everything in it, also beyond MAX_PATH, where the tests of long
// paths leave folders that std::filesystem cannot remove.
void RemoveTree(const std::wstring &path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName, inner = path + L"\\" + name;
            if (name == L"." || name == L"..") continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(inner);
            } else {
                SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(inner.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

// The scratch folders, also one left by an earlier test program that had this one's
// process number.
void RemoveScratch() {
    WCHAR wide[MAX_PATH + 1];
    if (MultiByteToWideChar(CP_ACP, 0, scratchRoot, -1, wide, MAX_PATH + 1))
        RemoveTree(std::wstring(L"\\\\?\\") + wide);
}

std::string MakeScratchDir() {
    static int count;
    if (!scratchRoot[0]) {
        std::string root =
            (fs::temp_directory_path() / ("kavoconv-test-" + std::to_string(GetCurrentProcessId()))).string();
        if (root.size() >= sizeof scratchRoot) abort();
        memcpy(scratchRoot, root.c_str(), root.size() + 1);
        RemoveScratch();
        atexit(RemoveScratch);
    }
    std::string dir = std::string(scratchRoot) + "\\t" + std::to_string(++count);
    fs::create_directories(dir);
    return dir;
}

HANDLE StartKavoconv(const std::vector<std::string> &args, HANDLE in, HANDLE out, HANDLE err, const std::string &cwd) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in ? in : nul;
    startup.hStdOutput = out ? out : nul;
    startup.hStdError = err ? err : nul;
    PROCESS_INFORMATION process = {};
    std::string line = CommandLine(KavoconvProgram(), args);
    const BOOL started = CreateProcessA(NULL, &line[0], NULL, NULL, TRUE, 0, NULL, cwd.empty() ? NULL : cwd.c_str(),
                                        &startup, &process);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started) return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD FinishKavoconv(HANDLE process) {
    DWORD status = STILL_ACTIVE;
    if (WaitForSingleObject(process, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &status);
    else
        TerminateProcess(process, 1);  // not left to run on after the test
    CloseHandle(process);
    return status;
}

CommandResult RunKavoconv(const Invocation &invocation) {
    CommandResult result;
    const std::string io = MakeScratchDir();
    const std::string inPath = invocation.inputPath.empty() ? io + "\\stdin" : invocation.inputPath;
    if (invocation.inputPath.empty()) std::ofstream(inPath, std::ios::binary) << invocation.input;

    HANDLE in = Inheritable(inPath, GENERIC_READ, OPEN_EXISTING);
    HANDLE err = Inheritable(io + "\\stderr", GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE out = INVALID_HANDLE_VALUE;
    HANDLE pipeRead = INVALID_HANDLE_VALUE;
    if (invocation.outputToPipe) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
        if (CreatePipe(&pipeRead, &out, &inherit, 0)) SetHandleInformation(pipeRead, HANDLE_FLAG_INHERIT, 0);
    } else if (!invocation.outputPath.empty()) {
        out = Inheritable(invocation.outputPath, FILE_APPEND_DATA, OPEN_ALWAYS);
    } else {
        out = Inheritable(io + "\\stdout", GENERIC_WRITE, CREATE_ALWAYS);
    }

    HANDLE process = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE
                         ? StartKavoconv(invocation.args, in, out, err, invocation.cwd)
                         : NULL;
    for (HANDLE handle : {in, out, err})
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (pipeRead != INVALID_HANDLE_VALUE) {
        char block[4096];
        DWORD got;
        while (process && ReadFile(pipeRead, block, sizeof block, &got, NULL) && got > 0) result.out.append(block, got);
        CloseHandle(pipeRead);
    }
    if (!process) return result;
    const DWORD status = FinishKavoconv(process);
    result.status = status == STILL_ACTIVE ? -1 : (int)status;
    if (!invocation.outputToPipe && invocation.outputPath.empty()) result.out = ReadAll(io + "\\stdout");
    for (char c : ReadAll(io + "\\stderr"))
        if (c != '\r') result.err += c;
    return result;
}
