// kavoconv.exe on Windows (run under Wine): names that differ only in letter case are one
// file; a failed copy back names the Temp.dat that holds the text; names whose second
// bytes are backslashes; devices refused in place; an unusable folder for Temp.dat named;
// wildcards in arguments expanded; the version block. And what no failure may do: a DEST
// replaced only by a whole conversion, Ctrl-C and Ctrl-Break in place, two runs on one
// file, a run ended by TerminateProcess; messages on a console whatever its code page, and
// through a pipe in the ANSI code page, each whole.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "kavoconv_test.h"
#include "program_state.h"
#include "reference_transcoder.h"
#include "win32/start_command.h"

namespace fs = std::filesystem;

namespace {

const std::string NOT_FOUND = "変換元ファイルが見つかりません。", CANNOT_OPEN = "変換先ファイルをオープンできません。";

TEST_F(KavoconvTest, NamesDifferingInCaseConvertInPlace) {
    const size_t before = EntriesIn(WorkRoot());
    WriteBytes(File("text.txt"), "A\x82\xA0\r\n");
    CommandResult r = Convert({"--newlines", File("text.txt"), File("TEXT.TXT")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(File("text.txt")), "A\xA4\xA2\n");
    EXPECT_EQ(EntriesIn(WorkRoot()), before);
}

// Under Wine, Z:\proc\version reads, but a write to it fails: the copy back fails.
TEST_F(KavoconvTest, FailedCopyBackNamesTheFileThatHoldsTheText) {
    const std::string source = ReadBytes("Z:\\proc\\version");
    if (source.empty()) GTEST_SKIP() << "no Z:\\proc\\version (not under Wine)";
    CommandResult r = Convert({"Z:\\proc\\version", "Z:\\proc\\version"});
    EXPECT_EQ(r.status, 1);
    const std::string name = "kavoconv: Z:\\proc\\version: ", first = name + "テンポラリファイルから書き戻せませんでした。（";
    const std::string second = name + "変換された内容は、", end = "に記録されています。\n";
    ASSERT_EQ(r.err.rfind(first, 0), 0u) << r.err;
    const size_t at = r.err.find(second);
    ASSERT_NE(at, std::string::npos) << r.err;
    ASSERT_EQ(r.err.substr(r.err.size() - end.size()), end) << r.err;
    const std::string tempPath = r.err.substr(at + second.size(), r.err.size() - at - second.size() - end.size());
    EXPECT_EQ(tempPath.rfind(WorkRoot() + "\\", 0), 0u) << tempPath;
    EXPECT_EQ(fs::path(tempPath).filename(), "Temp.dat");
    EXPECT_EQ(ReadBytes(tempPath), source);  // ASCII: the same after conversion
    fs::remove_all(fs::path(tempPath).parent_path());
}

// The names in a folder, through the ANSI calls (std::filesystem does not take a
// narrow name as the ANSI code page).
std::string Listing(const std::string &folder) {
    std::string names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..") names += (names.empty() ? "" : " ") + name;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

// Names whose Shift_JIS second bytes are 0x5C (表 95 5C, ソ 83 5C, 能 94 5C), in folder
// and file names and at the very end of an argument, just before its closing quote.
TEST_F(KavoconvTest, NamesWithBackslashSecondBytes) {
    const std::string folder = dir + "\\表ソ能", other = dir + "\\ソ";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(other.c_str(), NULL));
    const std::string source = folder + "\\一覧表", dest = other + "\\予定表";
    WriteBytes(source, "A\x95\x5C\r\n");
    CommandResult r = Convert({"-l", source, dest});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(dest), "A\xC9\xBD\n");
    r = Convert({"-s", dest, dest});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(dest), "A\x95\x5C\n");
    r = Convert({source, other});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Said(other, CANNOT_OPEN, SystemReason(IS_FOLDER)));
    EXPECT_EQ(Listing(folder), "一覧表");
    EXPECT_EQ(Listing(other), "予定表");
    EXPECT_EQ(ReadBytes(source), "A\x95\x5C\r\n");
}

// The lines of a text, sorted: the order in which a folder lists its names is the
// file system's.
std::vector<std::string> SortedLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());  // Windows' text mode
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// cmd.exe hands *.txt to the program as typed (the runner writes such arguments without
// quotes too): kavoconv.exe expands it itself, also to a Japanese name and in another
// folder; a pattern that matches nothing stays as typed and is reported.
TEST_F(KavoconvTest, WildcardsInFileArgumentsAreExpanded) {
    const std::string sjis = TEXT_SJIS + "\r\n" + TEXT_SJIS + "\r\n", euc = TEXT_EUC + "\n";
    auto here = [this](const char *name) { return dir + "\\" + name; };  // names in code page 932
    ASSERT_TRUE(CreateDirectoryA(here("ソ").c_str(), NULL));  // 83 5C: a backslash as its second byte
    WriteBytes(here("a.txt"), sjis);
    WriteBytes(here("日本語.txt"), sjis);
    WriteBytes(here("b.txt"), euc);
    WriteBytes(here("c.dat"), sjis);
    WriteBytes(here("ソ\\d.txt"), sjis);
    CommandResult r = Convert({"-g", "*.txt", "ソ\\?.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(SortedLines(r.out), SortedLines("a.txt: Shift_JIS (CRLF)\n"
                                              "b.txt: EUC-JP (LF)\n"
                                              "日本語.txt: Shift_JIS (CRLF)\n"
                                              "ソ\\d.txt: Shift_JIS (CRLF)\n"));

    r = Convert({"-l", "-i", "*.txt", "*.none"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("*.none"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(here("a.txt")), euc + euc);
    EXPECT_EQ(ReadBytes(here("日本語.txt")), euc + euc);
    EXPECT_EQ(ReadBytes(here("b.txt")), euc);  // guessed EUC-JP already: skipped
    EXPECT_EQ(ReadBytes(here("c.dat")), sjis);
    EXPECT_EQ(ReadBytes(here("ソ\\d.txt")), sjis);
}

std::wstring VersionValue(const std::vector<BYTE> &block, const std::wstring &name) {
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), (L"\\StringFileInfo\\041104b0\\" + name).c_str(), &value, &length) || !value)
        return L"<missing>";
    return static_cast<const wchar_t *>(value);
}

// The version block, read the way Explorer's properties page reads it.
TEST(KavoconvVersion, BlockNamesTheCommandLineConverter) {
    const std::string exe = KavoconvProgram();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
    ASSERT_NE(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, block.data()));
    void *value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO));
    const VS_FIXEDFILEINFO *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) && length == 4);
    EXPECT_EQ(static_cast<const WORD *>(value)[0], 0x0411);  // Japanese
    EXPECT_EQ(static_cast<const WORD *>(value)[1], 0x04B0);  // code page 1200 (UTF-16)
    const struct {
        const wchar_t *name, *text;
    } values[] = {
        {L"ProductName", L"かぼ"},
        {L"FileDescription", L"かぼ コマンドライン文字コード変換プログラム"},
        {L"FileVersion", L"1.01"},
        {L"ProductVersion", L"1.01"},
        {L"InternalName", L"kavoconv"},
        {L"OriginalFilename", L"kavoconv.exe"},
        {L"LegalCopyright", L"Copyright (c) 2026 The Kavo developers"},
    };
    for (const auto &v : values) EXPECT_TRUE(VersionValue(block, v.name) == v.text) << v.name;
}

// Messages as kavoconv.exe writes them to a file or pipe: lines end in CR LF.
std::string Crlf(const std::string &text) {
    std::string lines;
    for (char c : text) lines += c == '\n' ? "\r\n" : std::string(1, c);
    return lines;
}

// `count` bytes or a little more of "日本語のかな、カナ。ｶﾅ" lines in Shift_JIS with CR LF.
std::string SjisText(size_t count) {
    const std::string line = TEXT_SJIS + " line\r\n";
    std::string text;
    text.reserve(count + line.size());
    while (text.size() < count) text += line;
    return text;
}

// Waits up to ten seconds for `ready`; false when it never came.
bool WaitUntil(const std::function<bool()> &ready) {
    for (int i = 0; i < 10000; i++) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

long long SizeOf(const std::string &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

// The first file in folder other than `except` that holds bytes, or "".
std::string FileWithBytesIn(const std::string &folder, const std::string &except = "") {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return "";
    std::string found;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && entry.cFileName != except &&
            (entry.nFileSizeLow | entry.nFileSizeHigh) != 0)
            found = folder + "\\" + entry.cFileName;
    } while (found.empty() && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

// The Temp.dat of a running kavoconv's private folder, once it holds bytes; "" till then.
std::string TempDatWithBytes() {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((WorkRoot() + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return "";
    std::string found;
    do {
        const std::string temp = WorkRoot() + "\\" + entry.cFileName + "\\Temp.dat";
        if (entry.cFileName[0] != '.' && SizeOf(temp) > 0) found = temp;
    } while (found.empty() && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};

HANDLE Inheritable(const std::string &path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

// A console of the test's own with the given output code page; kavoconv.exe started
// meanwhile shares it. The test ignores the console's events, which go to every process
// on it. The standard handles are put back afterwards.
class Console {
public:
    explicit Console(UINT codePage) {
        static bool ignoring = SetConsoleCtrlHandler(Ignore, TRUE) != 0;  // for good: an event may come late
        for (int i = 0; i < 3; i++) saved_[i] = GetStdHandle(STANDARD[i]);
        FreeConsole();
        open_ = ignoring && AllocConsole() && SetConsoleOutputCP(codePage);
        output_ = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              OPEN_EXISTING, 0, NULL);
        // Wide enough that no message wraps.
        const COORD size = {400, 50};
        open_ = open_ && output_ != INVALID_HANDLE_VALUE && SetConsoleScreenBufferSize(output_, size);
    }
    ~Console() {
        if (output_ != INVALID_HANDLE_VALUE) CloseHandle(output_);
        FreeConsole();
        for (int i = 0; i < 3; i++) SetStdHandle(STANDARD[i], saved_[i]);
    }
    bool Open() const { return open_; }
    HANDLE Output() const { return output_; }

    // Each line written to it so far, with the spaces after its end left out.
    std::wstring Screen() const {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(output_, &info)) return L"(unreadable)";
        std::wstring lines;
        for (SHORT row = 0; row < info.dwCursorPosition.Y; row++) {
            std::wstring line(info.dwSize.X, L' ');
            DWORD got = 0;
            ReadConsoleOutputCharacterW(output_, &line[0], info.dwSize.X, COORD{0, row}, &got);
            line.resize(got);
            lines += line.substr(0, line.find_last_not_of(L' ') + 1) + L"\n";
        }
        return lines;
    }

private:
    static BOOL WINAPI Ignore(DWORD) { return TRUE; }
    static constexpr DWORD STANDARD[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE saved_[3];
    HANDLE output_;
    bool open_;
};

std::string Narrow(const std::wstring &text) {
    std::string bytes(text.size() * 4, '\0');
    bytes.resize((size_t)WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], (int)bytes.size(),
                                             NULL, NULL));
    return bytes;
}

// Messages about a name given once too often and files that are not there, on a console
// of each code page and through a pipe: on a console they read back as the characters
// they are, through the pipe they are bytes of the ANSI code page, each message in one
// piece. They are Japanese for a Japanese user, or on a console whose code page is 932
// (CTest runs this test a second time with Wine in an English locale).
TEST_F(KavoconvTest, MessagesOnAConsoleAndThroughAPipe) {
    const bool japaneseUser = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
    const bool japaneseNames = GetACP() == 932;
    const std::string missing = japaneseNames ? "無い表.txt" : "missing.txt";
    const std::wstring wideMissing = japaneseNames ? L"無い表.txt" : L"missing.txt";
    for (UINT codePage : {437u, 65001u, 932u}) {
        SCOPED_TRACE("console code page " + std::to_string(codePage));
        Console console(codePage);
        if (!console.Open()) {
            ADD_FAILURE() << "no console of code page " << codePage << " (error " << GetLastError() << ")";
            continue;
        }
        const bool japanese = japaneseUser || codePage == 932;
        FinishKavoconv(StartKavoconv({missing, missing, missing}, NULL, NULL, console.Output(), dir));  // a usage error
        FinishKavoconv(StartKavoconv({"-g", missing, missing}, NULL, NULL, console.Output(), dir));  // two failures
        const std::wstring usage = japanese ? L"kavoconv: 余分な引数です: " + wideMissing +
                                                  L"\n詳しくは「kavoconv --help」を実行してください。\n"
                                            : L"kavoconv: extra operand '" + wideMissing +
                                                  L"'\nTry 'kavoconv --help' for more information.\n";
        const std::wstring said = L"kavoconv: " + wideMissing +
                                  (japanese ? L": 変換元ファイルが見つかりません。（" : L": source not found: ");
        const std::wstring screen = console.Screen();
        ASSERT_EQ(Narrow(screen.substr(0, usage.size())), Narrow(usage));
        const std::wstring rest = screen.substr(usage.size()), first = rest.substr(0, rest.find(L'\n') + 1);
        EXPECT_EQ(Narrow(rest), Narrow(first + first));
        EXPECT_EQ(Narrow(first.substr(0, said.size())), Narrow(said));
        if (japanese) {
            EXPECT_EQ(Narrow(first.substr(first.size() - 2)), Narrow(L"）\n"));
        }
    }
    // Through a pipe, read while kavoconv writes: every piece read ends a line.
    HANDLE readEnd, writeEnd;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const std::vector<std::string> args = {"-g", missing, missing, missing, missing};
    HANDLE process = StartKavoconv(args, NULL, NULL, writeEnd, dir);
    CloseHandle(writeEnd);
    std::string bytes;
    char block[4096];
    DWORD got;
    while (ReadFile(readEnd, block, sizeof block, &got, NULL) && got > 0) {
        bytes.append(block, got);
        EXPECT_EQ(block[got - 1], '\n') << "a message in pieces";
    }
    CloseHandle(readEnd);
    EXPECT_EQ(FinishKavoconv(process), 1u);
    std::string expected;
    for (int i = 0; i < 4; i++)
        expected += japaneseUser ? Said(missing, NOT_FOUND, SystemReason(NO_SUCH_FILE))
                                 : "kavoconv: " + missing + ": source not found: " + SystemReason(NO_SUCH_FILE) + "\n";
    EXPECT_EQ(bytes, Crlf(expected));
}

const DWORD STOPPED_BY_CONSOLE = 0xC000013A;  // STATUS_CONTROL_C_EXIT

// Ctrl-C and Ctrl-Break (GenerateConsoleCtrlEvent, from this process on the console it
// shares with kavoconv.exe) during `-l -f -i` on a 32 MiB file: a fifth of a second after
// the start (Wine takes a tenth to start it), once Temp.dat holds text, once it holds half
// of it, once the file itself changes (the copy back). Each time the file is the original
// or the whole conversion (only the conversion once the copy back is seen to begin), the
// private folder is gone, nothing was said, and the process ended with the status of a
// program the console stopped, or with 0 when it was over first.
TEST_F(KavoconvTest, InterruptedInPlaceLeavesTheOriginalOrTheConversion) {
    const std::string sjis = SjisText(32 * 1024 * 1024), euc = ReferenceConvert(sjis, SjisToEuc, 1);
    const std::string path = File("large.txt"), errors = File("errors.txt");
    const size_t leftBefore = EntriesIn(WorkRoot());
    Console console(932);
    ASSERT_TRUE(console.Open());
    enum Moment { AFTER_A_FIFTH, TEMP_DAT_HOLDS_TEXT, TEMP_DAT_HALF_WRITTEN, FILE_CHANGES };
    const char *names[] = {"after 0.2 s", "once Temp.dat holds text", "once Temp.dat is half written",
                           "once the file changes"};
    DWORD breakError = 0;
    for (DWORD event : {(DWORD)CTRL_C_EVENT, (DWORD)CTRL_BREAK_EVENT}) {
        for (Moment moment : {AFTER_A_FIFTH, TEMP_DAT_HOLDS_TEXT, TEMP_DAT_HALF_WRITTEN, FILE_CHANGES}) {
            SCOPED_TRACE(std::string(event == CTRL_C_EVENT ? "Ctrl-C " : "Ctrl-Break ") + names[moment]);
            WriteBytes(path, sjis);
            const long long size = SizeOf(path);
            HANDLE err = Inheritable(errors);
            HANDLE process = StartKavoconv({"-l", "-f", "-i", path}, NULL, NULL, err);
            CloseHandle(err);
            ASSERT_TRUE(process);
            // Each moment, or the end of the run when that comes first.
            auto until = [&](const std::function<bool()> &seen) {
                WaitUntil([&] { return seen() || WaitForSingleObject(process, 0) == WAIT_OBJECT_0; });
            };
            if (moment == AFTER_A_FIFTH) std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (moment == TEMP_DAT_HOLDS_TEXT) until([] { return !TempDatWithBytes().empty(); });
            if (moment == TEMP_DAT_HALF_WRITTEN)
                until([&] { return SizeOf(TempDatWithBytes()) >= (long long)euc.size() / 2; });
            if (moment == FILE_CHANGES) until([&] { return SizeOf(path) != size; });
            const bool copyBackSeen = moment == FILE_CHANGES && SizeOf(path) != size;
            if (!GenerateConsoleCtrlEvent(event, 0)) {
                breakError = GetLastError();
                EXPECT_EQ(event, (DWORD)CTRL_BREAK_EVENT) << "error " << breakError;
                FinishKavoconv(process);
                break;
            }
            const DWORD status = FinishKavoconv(process);
            // With most of the work ahead, the run does not go on.
            if (moment == TEMP_DAT_HOLDS_TEXT)
                EXPECT_EQ(status, STOPPED_BY_CONSOLE) << std::hex << status;
            else
                EXPECT_TRUE(status == STOPPED_BY_CONSOLE || status == 0) << std::hex << status;
            const std::string after = ReadBytes(path);
            EXPECT_TRUE(after == euc || (after == sjis && !copyBackSeen))
                << (after == sjis ? "the original, after the copy back began" : "neither the original nor the conversion");
            EXPECT_EQ(EntriesIn(WorkRoot()), leftBefore);
            EXPECT_EQ(ReadBytes(errors), "");
            std::cout << (event == CTRL_C_EVENT ? "Ctrl-C " : "Ctrl-Break ") << names[moment] << ": "
                      << (status == STOPPED_BY_CONSOLE ? "stopped" : "finished") << ", the file "
                      << (after == euc ? "converted" : after == sjis ? "original" : "mixed") << std::endl;
        }
    }
    if (breakError)  // Wine 8.0
        std::cout << "Ctrl-Break not tested: GenerateConsoleCtrlEvent cannot send it here (error " << breakError << ")"
                  << std::endl;
}

// Types text into the console, as keys.
bool Type(HANDLE console, const std::wstring &text) {
    std::vector<INPUT_RECORD> keys;
    for (wchar_t c : text) {
        INPUT_RECORD key = {};
        key.EventType = KEY_EVENT;
        key.Event.KeyEvent.bKeyDown = TRUE;
        key.Event.KeyEvent.wRepeatCount = 1;
        key.Event.KeyEvent.wVirtualKeyCode = c == L'\r' ? VK_RETURN : 0;
        key.Event.KeyEvent.uChar.UnicodeChar = c;
        keys.push_back(key);
    }
    DWORD written;
    return WriteConsoleInputW(console, keys.data(), (DWORD)keys.size(), &written) && written == keys.size();
}

// SOURCE DEST where the source cannot be read to its end (a pipe whose server goes away
// after a megabyte, written beside DEST meanwhile), or Ctrl-C comes while the standard
// input waits (a pipe after a megabyte, the console after a line): an existing DEST keeps
// its bytes, a new one is not made, nothing is left beside it nor in the private folders.
TEST_F(KavoconvTest, DestIsReplacedOnlyByAWholeConversion) {
    const std::string old = "older text\r\n", text = SjisText(1024 * 1024);
    const std::string dest = File("out\\dest.txt"), errors = File("errors.txt");
    const std::string pipeName = "\\\\.\\pipe\\kavoconv-test-" + std::to_string(GetCurrentProcessId());
    const size_t leftBefore = EntriesIn(WorkRoot());
    enum Input { SOURCE_PIPE_GOES, STANDARD_INPUT_PIPE, STANDARD_INPUT_CONSOLE };
    const char *names[] = {"the source's pipe goes away", "Ctrl-C while a pipe waits",
                           "Ctrl-C while the console waits"};
    for (Input input : {SOURCE_PIPE_GOES, STANDARD_INPUT_PIPE, STANDARD_INPUT_CONSOLE}) {
        for (bool existing : {true, false}) {
            SCOPED_TRACE(std::string(existing ? "existing DEST, " : "new DEST, ") + names[input]);
            // A console of its own each time: a line typed after a read was cancelled may go
            // to that read.
            Console console(932);
            ASSERT_TRUE(console.Open());
            fs::create_directories(File("out"));
            if (existing) WriteBytes(dest, old);
            HANDLE feed = INVALID_HANDLE_VALUE, in = NULL;
            if (input == SOURCE_PIPE_GOES) {
                feed = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536,
                                        65536, 0, NULL);
                ASSERT_NE(feed, INVALID_HANDLE_VALUE);
            } else if (input == STANDARD_INPUT_PIPE) {
                ASSERT_TRUE(CreatePipe(&in, &feed, &inheritable, 0));
                SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0);
            } else {
                in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, NULL);
                ASSERT_NE(in, INVALID_HANDLE_VALUE);
            }
            HANDLE err = Inheritable(errors);
            HANDLE process = StartKavoconv({input == SOURCE_PIPE_GOES ? pipeName : "-", dest}, in, NULL, err);
            CloseHandle(err);
            ASSERT_TRUE(process);
            DWORD written;
            if (input == STANDARD_INPUT_CONSOLE) {
                EXPECT_TRUE(Type(in, L"a line\r"));
            } else {
                if (input == SOURCE_PIPE_GOES) ConnectNamedPipe(feed, NULL);
                EXPECT_TRUE(WriteFile(feed, text.data(), (DWORD)text.size(), &written, NULL));
            }
            EXPECT_TRUE(WaitUntil([&] { return !FileWithBytesIn(File("out"), "dest.txt").empty(); }))
                << "nothing was written beside DEST";
            if (input == SOURCE_PIPE_GOES)
                DisconnectNamedPipe(feed);
            else
                EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
            const DWORD status = FinishKavoconv(process);
            if (in) CloseHandle(in);
            if (feed != INVALID_HANDLE_VALUE) CloseHandle(feed);
            EXPECT_EQ(status, input == SOURCE_PIPE_GOES ? 1u : STOPPED_BY_CONSOLE) << std::hex << status;
            EXPECT_EQ(ReadBytes(errors),
                      input == SOURCE_PIPE_GOES ? Crlf(Said(pipeName, "ファイルの読みこみに失敗しました。",
                                                            WindowsReason(ERROR_PIPE_NOT_CONNECTED)))
                                                : "");
            EXPECT_EQ(Listing(File("out")), existing ? "dest.txt" : "");
            if (existing) {
                EXPECT_EQ(ReadBytes(dest), old);
            }
            EXPECT_EQ(EntriesIn(WorkRoot()), leftBefore);
            fs::remove_all(File("out"));
        }
    }
}

// Two runs in place on one file at once take turns: one converts, the other then finds
// EUC-JP and skips the file.
TEST_F(KavoconvTest, TwoRunsInPlaceTakeTurns) {
    const std::string sjis = SjisText(8 * 1024 * 1024), path = File("shared.txt");
    WriteBytes(path, sjis);
    HANDLE first = Inheritable(File("first.txt")), second = Inheritable(File("second.txt"));
    HANDLE one = StartKavoconv({"-l", "-i", path}, NULL, NULL, first);
    HANDLE other = StartKavoconv({"-l", "-i", path}, NULL, NULL, second);
    CloseHandle(first);
    CloseHandle(second);
    EXPECT_EQ(FinishKavoconv(one), 0u);
    EXPECT_EQ(FinishKavoconv(other), 0u);
    EXPECT_TRUE(ReadBytes(path) == ReferenceConvert(sjis, SjisToEuc, 1));
    EXPECT_EQ(ReadBytes(File("first.txt")) + ReadBytes(File("second.txt")),
              Crlf("kavoconv: " + path + ": 変換しませんでした（EUC-JPと推定）\n"));
}

// With -i and -g, a device is refused at once, with its name and why, and the other
// files go on; as SOURCE of the two-name form it is a stream.
TEST_F(KavoconvTest, DevicesAreRefusedInPlace) {
    const std::string text = TEXT_SJIS + "\r\n" + TEXT_SJIS + "\r\n";
    for (const std::vector<std::string> &args : {std::vector<std::string>{"-f", "-i", "NUL", "text.txt"},
                                                  std::vector<std::string>{"-g", "NUL"}}) {
        SCOPED_TRACE(args[0]);
        WriteBytes(File("text.txt"), text);
        CommandResult r = Convert(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, Said("NUL", NOT_FOUND, "通常のファイルではありません"));
        EXPECT_TRUE(ReadBytes(File("text.txt")) == (args[0] == "-g" ? text : ReferenceConvert(text, SjisToEuc, 0)));
    }
    CommandResult r = Convert({"NUL", "out.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::exists(File("out.txt")) && ReadBytes(File("out.txt")).empty());
}

// A run ended by TerminateProcess (as by the task manager, or a power cut) before its
// Temp.dat is whole leaves a folder that the next run removes. One ended during the copy
// back leaves the whole conversion: the next run on that file says where it is and leaves
// the file alone; once the conversion is copied over the file, the folder goes quietly.
TEST_F(KavoconvTest, RunCutShortIsReportedAndCleanedUp) {
    const std::string sjis = SjisText(32 * 1024 * 1024), euc = ReferenceConvert(sjis, SjisToEuc, 1);
    const std::string path = File("text.txt");
    const size_t leftBefore = EntriesIn(WorkRoot());
    WriteBytes(path, sjis);
    HANDLE process = StartKavoconv({"-l", "-i", path}, NULL, NULL, NULL);
    ASSERT_TRUE(WaitUntil([] { return !TempDatWithBytes().empty(); }));
    TerminateProcess(process, 1);
    EXPECT_EQ(FinishKavoconv(process), 1u);
    EXPECT_TRUE(ReadBytes(path) == sjis);
    EXPECT_EQ(EntriesIn(WorkRoot()), leftBefore + 1);
    WriteBytes(File("small.txt"), TEXT_SJIS);
    EXPECT_EQ(Convert({File("small.txt"), File("small.txt")}).status, 0);
    EXPECT_EQ(EntriesIn(WorkRoot()), leftBefore);

    const long long size = SizeOf(path);
    process = StartKavoconv({"-l", "-i", path}, NULL, NULL, NULL);
    ASSERT_TRUE(WaitUntil([&] { return SizeOf(path) != size; }));
    TerminateProcess(process, 1);
    FinishKavoconv(process);
    const std::string temp = TempDatWithBytes();
    ASSERT_FALSE(temp.empty()) << "the copy back was over";
    ASSERT_TRUE(ReadBytes(temp) == euc);
    CommandResult r = Convert({"-l", "-i", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kavoconv: " + path + ": 以前のkavoconvがこのファイルへの書き戻しの途中で中断されました。" +
                         "変換された内容は、" + temp + "に記録されています。\n" + "kavoconv: " + path +
                         ": それをファイルにコピーするか、そのフォルダーを削除してから、もう一度実行してください。\n");
    ASSERT_TRUE(CopyFileA(temp.c_str(), path.c_str(), FALSE));
    r = Convert({"-l", "-i", path});
    EXPECT_EQ(r.err, "kavoconv: " + path + ": 変換しませんでした（EUC-JPと推定）\n");
    EXPECT_EQ(EntriesIn(WorkRoot()), leftBefore);
}

// A file where the folder of the private folders belongs: nothing is converted, and the
// message names that folder and the system's reason.
TEST_F(KavoconvTest, UnusableFolderForTempDatIsNamed) {
    const std::string root = WorkRoot(), saved = root + "-saved";
    ASSERT_TRUE(MoveFileA(root.c_str(), saved.c_str()));  // with what is in it, until the end
    WriteBytes(root, "");
    WriteBytes(File("text.txt"), TEXT_SJIS);
    CommandResult r = Convert({"-f", "-i", "text.txt"});
    DeleteFileA(root.c_str());
    ASSERT_TRUE(MoveFileA(saved.c_str(), root.c_str()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kavoconv: text.txt: Temp.datが作成できません。（" + root + ": " + WindowsReason(ERROR_DIRECTORY) +
                         "）\n");
    EXPECT_EQ(ReadBytes(File("text.txt")), TEXT_SJIS);
}

}  // namespace
