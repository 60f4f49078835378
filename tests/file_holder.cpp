// A second program that holds a file open, as another application would, for the Win32
// job tests. Usage: kavo_file_holder PATH ACCESS SHARE READY QUIT
//   ACCESS: "read", "write" or "none"; SHARE: any of the letters r, w, d, or "-" for none;
//   READY, QUIT: names of events. READY is set once the file is open; the program keeps
//   it open until QUIT is set. Exits 1 when the file cannot be opened.
#include <windows.h>
#include <string.h>

int main(int argc, char **argv) {
    if (argc != 6) return 2;
    DWORD access = strcmp(argv[2], "read") == 0 ? GENERIC_READ : strcmp(argv[2], "write") == 0 ? GENERIC_WRITE : 0;
    DWORD share = 0;
    if (strchr(argv[3], 'r')) share |= FILE_SHARE_READ;
    if (strchr(argv[3], 'w')) share |= FILE_SHARE_WRITE;
    if (strchr(argv[3], 'd')) share |= FILE_SHARE_DELETE;
    HANDLE file = CreateFileA(argv[1], access, share, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[4]);
    HANDLE quit = OpenEventA(SYNCHRONIZE, FALSE, argv[5]);
    if (file == INVALID_HANDLE_VALUE || !ready || !quit) return 1;
    SetEvent(ready);
    WaitForSingleObject(quit, 60000);  // bounded: a test that dies does not leave it behind
    CloseHandle(file);
    return 0;
}
