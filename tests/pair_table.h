// Every two-byte input converted by the byte-at-a-time reference on the build machine
// (pair_table_gen.cpp writes the table's source there). A cross build checks its engine
// against it, an expectation made by another compiler for another processor.
#ifndef KAVO_PAIR_TABLE_H
#define KAVO_PAIR_TABLE_H

struct PairTable {
    // For the input f s alone (index f * 256 + s): how many bytes it converts to, and those
    // bytes, one input after the other.
    const unsigned char *aloneLengths;
    const unsigned char *alone;
    // For each first byte f, the conversion of the 512 bytes f 00 f 01 ... f FF.
    const unsigned short *rowLengths;
    const unsigned char *rows;
};

// Index 0: Shift_JIS to EUC-JP; 1: EUC-JP to Shift_JIS; newline rule off.
extern const PairTable PAIR_TABLES[2];

#endif
