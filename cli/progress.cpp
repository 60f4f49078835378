// The line is drawn by a ticker that may interrupt the main work at any point (a signal
// handler on POSIX), so drawing uses no library call that could be in use there: the
// text is put together by hand in a buffer of its own and written in one call.
#include "progress.h"

#include "cli_platform.h"
#include "platform.h"

namespace {

enum { SHOW_AFTER_MILLISECONDS = 1000, LINE_LIMIT = 160 };

volatile unsigned long filesDone;
unsigned long filesTotal;
unsigned long startTime;
unsigned long long startBytes;
// Bytes read again, not counted: of the files before, and the next rereadCount from
// rereadStart on.
unsigned long long rereadBefore, rereadStart, rereadCount;
int active;
volatile int shownLength;  // characters of the line on the terminal now; 0 when none
char line[LINE_LIMIT];

// Appends text at *at, within the buffer.
void Put(char **at, const char *text) {
    while (*text && *at < line + LINE_LIMIT) *(*at)++ = *text++;
}

void PutNumber(char **at, unsigned long long value) {
    char digits[24];
    int count = 0;
    do digits[count++] = (char)('0' + value % 10);
    while ((value /= 10) > 0);
    while (count > 0 && *at < line + LINE_LIMIT) *(*at)++ = digits[--count];
}

// A size in tenths of a MiB as "12.3 MiB".
void PutMebibytes(char **at, unsigned long long tenths) {
    PutNumber(at, tenths / 10);
    Put(at, ".");
    PutNumber(at, tenths % 10);
    Put(at, " MiB");
}

// Blanks out what is shown and puts the cursor back at the start of the line.
void Clear() {
    char *at = line;
    Put(&at, "\r");
    for (int i = 0; i < shownLength && at < line + LINE_LIMIT - 1; i++) Put(&at, " ");
    Put(&at, "\r");
    CliWriteRaw(line, (size_t)(at - line));
    shownLength = 0;
}

unsigned long long Reread(unsigned long long now) {
    const unsigned long long since = now - rereadStart;
    return rereadBefore + (since < rereadCount ? since : rereadCount);
}

void Tick() {
    const unsigned long elapsed = CliMilliseconds() - startTime;
    if (elapsed < SHOW_AFTER_MILLISECONDS) return;
    const unsigned long long now = PlatformBytesRead();
    const unsigned long long bytes = now - startBytes - Reread(now);
    const unsigned long long tenths = bytes * 10 / (1024 * 1024);
    char *at = line;
    Put(&at, "\rkavoconv: ");
    PutNumber(&at, filesDone);
    Put(&at, "/");
    PutNumber(&at, filesTotal);
    Put(&at, " files, ");
    PutMebibytes(&at, tenths);
    Put(&at, ", ");
    PutMebibytes(&at, tenths * 1000 / elapsed);
    Put(&at, "/s");
    const int length = (int)(at - line) - 1;
    for (int i = length; i < shownLength; i++) Put(&at, " ");  // over a longer line before
    CliWriteRaw(line, (size_t)(at - line));
    shownLength = length;
}

}  // namespace

void ProgressStart(unsigned long files) {
    if (!CliErrorIsTerminal()) return;
    filesTotal = files;
    filesDone = 0;
    startTime = CliMilliseconds();
    startBytes = PlatformBytesRead();
    rereadBefore = rereadStart = rereadCount = 0;
    active = 1;
    CliStartTicker(Tick);
}

void ProgressFileDone(void) { filesDone = filesDone + 1; }

void ProgressRereading(unsigned long long count) {
    if (!active) return;
    CliHoldTicker();  // the ticker never sees the three half changed
    const unsigned long long now = PlatformBytesRead();
    rereadBefore = Reread(now);
    rereadStart = now;
    rereadCount = count;
    CliReleaseTicker();
}

void ProgressPause(void) {
    if (!active) return;
    CliHoldTicker();
    if (shownLength > 0) Clear();
}

void ProgressResume(void) {
    if (active) CliReleaseTicker();
}

void ProgressEnd(void) {
    if (!active) return;
    CliStopTicker();
    if (shownLength > 0) Clear();
    active = 0;
}
