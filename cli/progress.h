// kavoconv's progress line: files done of all, bytes read and the rate, on standard error
// when it is a terminal and the work has run for more than a second; cleared at the end.
#ifndef KAVO_PROGRESS_H
#define KAVO_PROGRESS_H

// Starts timing a run over `files` files. Nothing is ever shown unless standard error
// is a terminal.
void ProgressStart(unsigned long files);
void ProgressFileDone(void);

// The next `count` bytes read are bytes read before (the guard of -i reads a file, then
// the conversion reads it again): the line counts each byte once.
void ProgressRereading(unsigned long long count);

// Around anything else written to the terminal: clears the line and keeps it away until
// ProgressResume.
void ProgressPause(void);
void ProgressResume(void);

// Stops, and clears the line when one is shown.
void ProgressEnd(void);

#endif
