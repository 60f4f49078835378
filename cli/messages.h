// kavoconv's messages about files: each names the file it is about, says what could not
// be done and gives the reason the system gave, in the user's language. The texts are
// English here and go through CliText; the Japanese catalog gives the dialog's texts.
#ifndef KAVO_MESSAGES_H
#define KAVO_MESSAGES_H

#include <stddef.h>

#include "convert_file.h"
#include "platform.h"

// Marks a text for the catalog without translating it where it stands.
#define N_(text) text

// The reason of a failure in the user's language: the system's words, or kavoconv's own
// for the failures only it finds. Always terminated within size bytes.
void FailureReason(PlatformFailure failure, char *out, size_t size);

// The text (in English, one "%s" for the reason, a folder's "%s" before it where the
// outcome names one) of a failed outcome of the job, by the kind of failure. intoTempDat:
// the failing write or copy was Temp.dat's.
const char *OutcomeText(JobEvent event, PlatformFailureKind kind, int intoTempDat, int inPlace);

// Writes "kavoconv: file: " (nothing for a null file) followed by the translation of
// `english`, a printf format, filled in with the arguments.
void Say(const char *file, const char *english, ...) __attribute__((format(printf, 2, 3)));

#endif
