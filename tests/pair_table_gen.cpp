// Writes the source of the all-pairs table (pair_table.h) from the byte-at-a-time reference.
// Built for and run on the build machine, also in a cross build.
// Usage: kavo_pair_table_gen OUTPUT.cpp
#include <stdio.h>

#include <string>

#include "reference_transcoder.h"

namespace {

// The bytes as string literals of 32 bytes a line, in octal escapes (which, unlike hex
// ones, cannot run on into a following digit).
void WriteBytes(FILE *out, const char *name, const std::string &bytes) {
    fprintf(out, "const unsigned char %s[] =", name);
    for (size_t i = 0; i < bytes.size(); i++) {
        if (i % 32 == 0) fputs("\n    \"", out);
        fprintf(out, "\\%03o", (unsigned char)bytes[i]);
        if (i % 32 == 31 || i + 1 == bytes.size()) fputc('"', out);
    }
    if (bytes.empty()) fputs(" \"\"", out);
    fputs(";\n", out);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    FILE *out = fopen(argv[1], "w");
    if (!out) {
        perror(argv[1]);
        return 1;
    }
    fputs("// Made by kavo_pair_table_gen from the byte-at-a-time reference; not to be edited.\n"
          "#include \"pair_table.h\"\n\nnamespace {\n\n", out);
    for (int direction = 0; direction < 2; direction++) {
        std::string lengths, alone, rows, rowLengths;
        for (int f = 0; f < 256; f++) {
            std::string row;
            for (int s = 0; s < 256; s++) {
                std::string pair = {(char)f, (char)s};
                std::string converted = ReferenceConvert(pair, (unsigned char)direction, 0);
                lengths += (char)converted.size();
                alone += converted;
                row += pair;
            }
            std::string converted = ReferenceConvert(row, (unsigned char)direction, 0);
            rowLengths += (rowLengths.empty() ? "" : ", ") + std::to_string(converted.size());
            rows += converted;
        }
        std::string suffix = std::to_string(direction);
        WriteBytes(out, ("ALONE_LENGTHS_" + suffix).c_str(), lengths);
        WriteBytes(out, ("ALONE_" + suffix).c_str(), alone);
        fprintf(out, "const unsigned short ROW_LENGTHS_%d[] = {%s};\n", direction, rowLengths.c_str());
        WriteBytes(out, ("ROWS_" + suffix).c_str(), rows);
        fputc('\n', out);
    }
    fputs("}  // namespace\n\nconst PairTable PAIR_TABLES[2] = {\n"
          "    {ALONE_LENGTHS_0, ALONE_0, ROW_LENGTHS_0, ROWS_0},\n"
          "    {ALONE_LENGTHS_1, ALONE_1, ROW_LENGTHS_1, ROWS_1},\n};\n", out);
    if (fclose(out) != 0) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
