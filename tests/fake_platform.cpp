// The in-memory platform. Handles are small numbers starting at 1, cast to the build's
// PlatformFile; handles are never reused within a test, so a second close is seen.
#include "fake_platform.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <map>

namespace fake {
namespace {

struct Entry {
    std::string name;  // as first created
    std::string data;
};

struct Handle {
    std::string key;
    bool writing;
    size_t position;
    int closes;
    bool writeFailed;
};

std::map<std::string, Entry> files;
std::vector<Handle> handles;  // handle n is handles[n - 1]
Faults faults;
std::vector<Message> messages;
std::vector<std::string> trace;
std::string problems;
std::string executablePath;
size_t readCalls;
std::vector<size_t> writeCalls;
unsigned long long bytesRead;
PlatformMessageHook hook;
PlatformFailure lastFailure;
// The write PlatformWriteStart took note of, until PlatformWriteFinish does it.
struct Started {
    bool under;
    PlatformFile file;
    const unsigned char *buffer;
    unsigned long size;
} started;

std::string Key(const std::string &name) {
    std::string key = name;
    for (char &c : key)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return key;
}

bool Matches(const std::string &faultName, const std::string &name) {
    return !faultName.empty() && Key(faultName) == Key(name);
}

PlatformFile ToFile(size_t id) { return (PlatformFile)(intptr_t)id; }

Handle *FromFile(PlatformFile file, const char *operation) {
    intptr_t id = (intptr_t)file;
    if (id < 1 || (size_t)id > handles.size()) {
        problems += std::string(operation) + " on a handle never opened; ";
        return nullptr;
    }
    Handle &h = handles[(size_t)id - 1];
    if (h.closes > 0) {
        problems += std::string(operation) + " on closed " + h.key + "; ";
        return nullptr;
    }
    return &h;
}

// How the file is open now: 0 not, 1 for reading only, 2 for writing.
int OpenMode(const std::string &key) {
    int mode = 0;
    for (const Handle &h : handles)
        if (h.key == key && h.closes == 0) mode = h.writing ? 2 : (mode > 1 ? mode : 1);
    return mode;
}

std::string Name(const std::string &key) {
    auto it = files.find(key);
    return it == files.end() ? key : it->second.name;
}

// Records the call; a failure also as the last failure, with a code only this platform gives.
void Record(const std::string &what, bool ok) {
    trace.push_back(ok ? what : what + " FAILED");
    if (!ok) lastFailure = PlatformFailure{PLATFORM_FAILURE_OTHER, 1};
}

size_t Open(const std::string &key, bool writing) {
    handles.push_back(Handle{key, writing, 0, 0, false});
    return handles.size();
}

}  // namespace

void Reset() {
    files.clear();
    handles.clear();
    faults = Faults();
    messages.clear();
    trace.clear();
    problems.clear();
    executablePath.clear();
    readCalls = 0;
    writeCalls.clear();
    hook = nullptr;
    lastFailure = PlatformFailure{PLATFORM_FAILURE_OTHER, 0};
    started = Started();
}

void SetFile(const std::string &name, const std::string &contents) {
    Entry &e = files[Key(name)];
    if (e.name.empty()) e.name = name;
    e.data = contents;
}

bool HasFile(const std::string &name) { return files.count(Key(name)) != 0; }

std::string File(const std::string &name) {
    auto it = files.find(Key(name));
    return it == files.end() ? std::string() : it->second.data;
}

std::vector<std::string> FileNames() {
    std::vector<std::string> names;
    for (const auto &f : files) names.push_back(f.second.name);
    return names;
}

void SetExecutablePath(const std::string &path) { executablePath = path; }
Faults &GetFaults() { return faults; }
const std::vector<Message> &Messages() { return messages; }
const std::vector<std::string> &Trace() { return trace; }
const std::vector<size_t> &WriteCalls() { return writeCalls; }

int OpenHandles() {
    int open = 0;
    for (const Handle &h : handles) open += h.closes == 0 && h.key[0] != '<';
    return open;
}

std::string HandleProblems() {
    std::string result = problems;
    for (const Handle &h : handles)
        if (h.closes != 1 && h.key[0] != '<') result += h.key + " closed " + std::to_string(h.closes) + " times; ";
    return result;
}

}  // namespace fake

using namespace fake;

PlatformFailure PlatformLastFailure(void) { return lastFailure; }
int PlatformRecordSystemFailure(void) {
    lastFailure = PlatformFailure{PLATFORM_FAILURE_OTHER, 1};
    return 0;
}
void PlatformSetLastFailure(PlatformFailure failure) { lastFailure = failure; }

void PlatformDescribeFailure(PlatformFailure failure, char *out, unsigned long size) {
    if (size > 0) snprintf(out, size, "%s", failure.code ? "in-memory failure" : "");
}

int PlatformOpenSource(const char *path, PlatformFile *file) {
    std::string key = Key(path);
    bool ok = !Matches(faults.openSource, path) && files.count(key) && OpenMode(key) < 2;
    Record(std::string("open ") + path, ok);
    if (!ok) return 0;
    *file = ToFile(Open(key, false));
    return 1;
}

int PlatformCreateOutput(const char *path, PlatformFile *file) {
    std::string key = Key(path);
    bool ok = !Matches(faults.createOutput, path) && *path != '\0' && OpenMode(key) == 0;
    Record(std::string("create ") + path, ok);
    if (!ok) return 0;
    SetFile(path, std::string());
    *file = ToFile(Open(key, true));
    return 1;
}

int PlatformRead(PlatformFile file, unsigned char *buffer, unsigned long size, unsigned long *count) {
    Handle *h = FromFile(file, "read");
    if (!h) return 0;
    if (h->writing) problems += "read from output " + h->key + "; ";
    const std::string &data = files[h->key].data;
    if (!faults.readSizes.empty()) {
        unsigned long limit = faults.readSizes[readCalls % faults.readSizes.size()];
        if (size > limit) size = limit;
    }
    readCalls++;
    if (h->position == faults.readAt) return 0;
    size_t end = h->position + size < data.size() ? h->position + size : data.size();
    // A read that would pass the failing offset stops short of it; the next one fails.
    if (faults.readAt > h->position && faults.readAt < end) end = faults.readAt;
    size_t got = end > h->position ? end - h->position : 0;
    if (got) memcpy(buffer, data.data() + h->position, got);
    h->position += got;
    *count = (unsigned long)got;
    bytesRead += got;
    return 1;
}

unsigned long long PlatformBytesRead(void) { return bytesRead; }

// The bytes in place, cut as reads are (readSizes), unless declined. A read fault within
// them is met as the real one meets a file cut short: use() runs on all of them, then
// the call fails, and PlatformRead then fails at the fault's offset.
int PlatformReadInPlace(PlatformFile file, unsigned long size, unsigned long *count, PlatformBytesUser use,
                        void *context) {
    Handle *h = FromFile(file, "read");
    if (!h || !faults.inPlace) return 0;
    if (h->writing) problems += "read from output " + h->key + "; ";
    const std::string &data = files[h->key].data;
    if (h->position >= data.size()) return 0;
    if (!faults.readSizes.empty()) {
        unsigned long limit = faults.readSizes[readCalls % faults.readSizes.size()];
        if (size > limit) size = limit;
    }
    readCalls++;
    size_t got = data.size() - h->position < size ? data.size() - h->position : size;
    use((const unsigned char *)data.data() + h->position, (unsigned long)got, context);
    if (faults.readAt >= h->position && faults.readAt <= h->position + got) return 0;
    h->position += got;
    bytesRead += got;
    *count = (unsigned long)got;
    return 1;
}

int PlatformWrite(PlatformFile file, const unsigned char *buffer, unsigned long size) {
    Handle *h = FromFile(file, "write");
    if (!h) return 0;
    if (started.under && started.file == file) problems += "write while one started is under way; ";
    if (!h->writing) problems += "write to source " + h->key + "; ";
    if (h->writeFailed) problems += "write after a failed write to " + h->key + "; ";
    std::string &data = files[h->key].data;
    size_t start = data.size();
    // A write across the failing offset puts the bytes before it in the file, then fails.
    size_t keep = faults.writeAt >= start && faults.writeAt - start < size ? faults.writeAt - start : size;
    data.append((const char *)buffer, keep);
    if (keep == size) {
        writeCalls.push_back(size);
        return 1;
    }
    h->writeFailed = true;
    return 0;
}

int PlatformWritesAhead(PlatformFile file) {
    Handle *h = FromFile(file, "write ahead");
    return h && h->writing && faults.writesAhead;
}

void PlatformWriteStart(PlatformFile file, const unsigned char *buffer, unsigned long size) {
    if (!faults.writesAhead) problems += "write started where writes are not ahead; ";
    if (started.under) problems += "write started while one is under way; ";
    started = Started{true, file, buffer, size};
}

int PlatformWriteFinish(PlatformFile file) {
    if (!started.under || started.file != file) {
        problems += "write finished that was not started; ";
        return 0;
    }
    started.under = false;
    return PlatformWrite(file, started.buffer, started.size);
}

int PlatformClose(PlatformFile file) {
    if (started.under && started.file == file) problems += "close with a write under way; ";
    intptr_t id = (intptr_t)file;
    if (id < 1 || (size_t)id > handles.size()) {
        problems += "close of a handle never opened; ";
        return 0;
    }
    Handle &h = handles[(size_t)id - 1];
    h.closes++;
    bool ok = h.closes == 1 && !Matches(faults.close, h.key);
    Record("close " + Name(h.key), ok);
    return ok;
}

int PlatformCopyOver(const char *from, const char *to) {
    std::string source = Key(from), target = Key(to);
    bool ok = !faults.copy && files.count(source) && OpenMode(source) < 2 && OpenMode(target) == 0;
    Record(std::string("copy ") + from + " " + to, ok);
    if (ok) SetFile(to, files[source].data);
    return ok;
}

// The destination of the open source is refused; otherwise the answer the test set.
PlatformReplacement PlatformHowToReplace(const char *dest, PlatformFile, char *target) {
    target[0] = '\0';
    PlatformReplacement answer = OpenMode(Key(dest)) == 0 ? faults.replacement : PLATFORM_REPLACE_REFUSED;
    if (answer == PLATFORM_REPLACE_REFUSED) lastFailure = PlatformFailure{PLATFORM_FAILURE_SAME_FILE, 0};
    if (answer == PLATFORM_REPLACE_RENAME) snprintf(target, MAX_PATH + 1, "%s", dest);
    return answer;
}

int PlatformBesideName(const char *path, char *out) {
    snprintf(out, MAX_PATH + 1, "%s~new", path);
    return 1;
}

int PlatformCreateNew(const char *path, PlatformFile *file) {
    std::string key = Key(path);
    bool ok = !Matches(faults.createOutput, path) && !files.count(key);
    Record(std::string("create-new ") + path, ok);
    if (!ok) return 0;
    SetFile(path, std::string());
    *file = ToFile(Open(key, true));
    return 1;
}

int PlatformRenameOver(const char *from, const char *to) {
    std::string source = Key(from), target = Key(to);
    bool ok = !faults.rename && files.count(source) && OpenMode(source) == 0 && OpenMode(target) == 0;
    Record(std::string("rename ") + from + " " + to, ok);
    if (!ok) return 0;
    SetFile(to, files[source].data);
    files.erase(source);
    return 1;
}

// A stamp is the file's contents: what changes them changes it.
int PlatformStampFile(PlatformFile file, PlatformFileStamp *stamp) {
    Handle *h = FromFile(file, "stamp");
    if (!h) return 0;
    memset(stamp, 0, sizeof *stamp);
    stamp->size = files[h->key].data.size();
    stamp->modified = std::hash<std::string>()(files[h->key].data);
    return 1;
}

int PlatformStampPath(const char *path, PlatformFileStamp *stamp) {
    std::string key = Key(path);
    if (!files.count(key)) return PlatformRecordSystemFailure();
    memset(stamp, 0, sizeof *stamp);
    stamp->size = files[key].data.size();
    stamp->modified = std::hash<std::string>()(files[key].data);
    return 1;
}

int PlatformStampUnchanged(const char *path, const PlatformFileStamp *stamp) {
    std::string key = Key(path);
    bool ok = !faults.changed && files.count(key) && files[key].data.size() == stamp->size &&
              std::hash<std::string>()(files[key].data) == stamp->modified;
    Record(std::string("unchanged ") + path, ok);
    if (!ok) lastFailure = PlatformFailure{PLATFORM_FAILURE_CHANGED, 0};
    return ok;
}

int PlatformDelete(const char *path) {
    std::string key = Key(path);
    bool ok = !faults.deleteFile && files.count(key) && OpenMode(key) == 0;
    Record(std::string("delete ") + path, ok);
    if (ok) files.erase(key);
    return ok;
}

int PlatformSameName(const char *a, const char *b) { return Key(a) == Key(b); }

int PlatformGetExecutablePath(char *out, unsigned long size) {
    if (size == 0) return 0;
    out[0] = '\0';
    if (executablePath.empty() || executablePath.size() >= size) return 0;
    memcpy(out, executablePath.c_str(), executablePath.size() + 1);
    return 1;
}

// Standard input and output are opened on first use; each is one handle for the whole
// test, which the job closes at the end like any file it converted.
PlatformFile PlatformStandardInput(void) {
    for (size_t i = 0; i < handles.size(); i++)
        if (handles[i].key == "<stdin>") return ToFile(i + 1);
    if (!HasFile("<stdin>")) SetFile("<stdin>", std::string());
    return ToFile(Open("<stdin>", false));
}

PlatformFile PlatformStandardOutput(void) {
    for (size_t i = 0; i < handles.size(); i++)
        if (handles[i].key == "<stdout>") return ToFile(i + 1);
    SetFile("<stdout>", File("<stdout>"));
    return ToFile(Open("<stdout>", true));
}

// Files are the same when their handles name the same file; the standard streams never
// count as one another.
int PlatformSameFile(PlatformFile a, PlatformFile b) {
    Handle *x = FromFile(a, "identify");
    Handle *y = FromFile(b, "identify");
    return x && y && x->key == y->key && x->key[0] != '<';
}

void PlatformShowMessage(PlatformWindow owner, const char *text, const char *caption, PlatformIcon icon) {
    messages.push_back(Message{owner, text, caption, icon, OpenHandles()});
    trace.push_back(std::string("message ") + text);
    if (hook) hook(owner, text, caption, icon);
}

void PlatformSetMessageHook(PlatformMessageHook newHook) { hook = newHook; }

// Names are taken to be in code page 932, as on a Japanese Windows.
int PlatformIsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Nothing stops the in-memory platform's reads and writes.
void PlatformSetStopCheck(int (*)(void)) {}
