// Text in the program's own encoding (UTF-8) handed to the user in the locale's.
#ifndef KAVO_LOCALE_TEXT_H
#define KAVO_LOCALE_TEXT_H

#include <stdio.h>

// Writes text to stream converted to the locale's encoding (LC_CTYPE, as set by the
// program); bytes with no equivalent there are passed as they are, so nothing is lost.
void WriteInLocale(FILE *stream, const char *text);

#endif
