// The transcoder's rules applied one byte at a time, the slow and obvious way: the
// oracle the block-wise transcoder is compared with. Input and output live in memory;
// a read or a write can be made to fail at a chosen offset.
#ifndef KAVO_REFERENCE_TRANSCODER_H
#define KAVO_REFERENCE_TRANSCODER_H

#include <stddef.h>

#include <string>

#include "transcode.h"

enum : size_t { NO_FAULT = (size_t)-1 };

// Converts `input` into *output, reading and writing single bytes. The read of input
// offset readFailAt fails (readFailAt == input.size() fails the read that would report
// the end); the write of output offset writeFailAt fails, with nothing written after.
// `direction` and `convertNewlines` mean what they mean in ProgramState.
TranscodeResult ReferenceTranscode(const std::string &input, unsigned char direction, unsigned char convertNewlines,
                                   std::string *output, size_t readFailAt = NO_FAULT,
                                   size_t writeFailAt = NO_FAULT);

// The conversion of the whole input when nothing fails.
std::string ReferenceConvert(const std::string &input, unsigned char direction, unsigned char convertNewlines);

#endif
