#include "messages.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "cli_platform.h"
#include "progress.h"

namespace {

struct OutcomeEntry {
    JobEvent event;
    PlatformFailureKind kind;  // PLATFORM_FAILURE_OTHER: any kind not listed before it
    const char *text;
};

// The first entry with the event and the kind, else with the event and OTHER, wins.
const OutcomeEntry OUTCOMES[] = {
    {JOB_SOURCE_NOT_FOUND, PLATFORM_FAILURE_NOT_FOUND, N_("source not found: %s")},
    {JOB_SOURCE_NOT_FOUND, PLATFORM_FAILURE_FOLDER, N_("the source is a folder: %s")},
    {JOB_SOURCE_NOT_FOUND, PLATFORM_FAILURE_NAME_TOO_LONG, N_("the source's name is too long: %s")},
    {JOB_SOURCE_NOT_FOUND, PLATFORM_FAILURE_OTHER, N_("cannot open the source: %s")},
    {JOB_DEST_OPEN_FAILED, PLATFORM_FAILURE_NOT_FOUND, N_("the destination's folder does not exist: %s")},
    {JOB_DEST_OPEN_FAILED, PLATFORM_FAILURE_FOLDER, N_("the destination is a folder: %s")},
    {JOB_DEST_OPEN_FAILED, PLATFORM_FAILURE_NAME_TOO_LONG, N_("the destination's name is too long: %s")},
    {JOB_DEST_OPEN_FAILED, PLATFORM_FAILURE_OTHER, N_("cannot open the destination: %s")},
    {JOB_TEMP_CREATE_FAILED, PLATFORM_FAILURE_OTHER, N_("cannot create Temp.dat in %s: %s")},
    {JOB_READ_FAILED, PLATFORM_FAILURE_OTHER, N_("reading the source failed: %s")},
};

// Reasons for the failures the system does not name.
const struct {
    PlatformFailureKind kind;
    const char *text;
} OWN_REASONS[] = {
    {PLATFORM_FAILURE_NOT_REGULAR, N_("not a regular file")},
    {PLATFORM_FAILURE_SAME_FILE, N_("it is the source under another name")},
    {PLATFORM_FAILURE_CUT_SHORT, N_("the file became shorter while it was being read")},
    {PLATFORM_FAILURE_CHANGED, N_("another program changed the file")},
    {PLATFORM_FAILURE_NAME_TOO_LONG, N_("the name is too long")},
    {PLATFORM_FAILURE_NO_SPACE, N_("no space left")},
    {PLATFORM_FAILURE_NOT_FOUND, N_("not found")},
    {PLATFORM_FAILURE_ACCESS, N_("permission denied")},
    {PLATFORM_FAILURE_FOLDER, N_("it is a folder")},
    {PLATFORM_FAILURE_OTHER, N_("failed")},
};

}  // namespace

void FailureReason(PlatformFailure failure, char *out, size_t size) {
    out[0] = '\0';
    if (failure.code != 0) CliDescribeFailure(failure, out, size);
    if (out[0] != '\0') return;
    for (const auto &reason : OWN_REASONS) {
        if (reason.kind == failure.kind || reason.kind == PLATFORM_FAILURE_OTHER) {
            snprintf(out, size, "%s", CliText(reason.text));
            return;
        }
    }
}

const char *OutcomeText(JobEvent event, PlatformFailureKind kind, int intoTempDat, int inPlace) {
    switch (event) {
    case JOB_WRITE_FAILED:
        return intoTempDat ? N_("writing Temp.dat in %s failed: %s") : N_("writing the destination failed: %s");
    case JOB_WRITE_BACK_FAILED:
        return inPlace ? N_("cannot copy the conversion back over the file: %s")
                       : N_("cannot replace the destination: %s");
    default:
        break;
    }
    const char *text = nullptr;
    for (const OutcomeEntry &entry : OUTCOMES) {
        if (entry.event != event) continue;
        if (entry.kind == kind) return entry.text;
        if (entry.kind == PLATFORM_FAILURE_OTHER && !text) text = entry.text;
    }
    return text;
}

void Say(const char *file, const char *english, ...) {
    static char text[3 * MAX_PATH + 1024];
    // The format is the catalog's translation of one the compiler checked against the
    // arguments; msgfmt --check-format holds the translation to the same directives.
    va_list arguments;
    va_start(arguments, english);
    vsnprintf(text, sizeof text, CliText(english), arguments);
    va_end(arguments);
    ProgressPause();
    CliWriteError(file, text);
    ProgressResume();
}
