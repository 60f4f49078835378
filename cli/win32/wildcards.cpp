// kavoconv.exe expands * and ? in its arguments, as Windows programs do, since cmd.exe
// passes them on as typed. Set, this variable makes the MinGW-w64 start-up code ask the C
// runtime to expand them into the matching names (in the ANSI code page) before main.
extern "C" {
int _dowildcard = -1;
}
