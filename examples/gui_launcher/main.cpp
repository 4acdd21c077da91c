// A GUI launcher, entered through wWinMain (or WinMain, built without
// -municode), that adopts the hand-over: the same two lines as a console
// launcher, without argc/argv. It says that it runs on the debugger output,
// where kes-debug-capture shows it next to the hand-over log.
#include <windows.h>

#include "kestrelwood/self_update.h"

#if defined(KES_EXAMPLE_NARROW_ENTRY)
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
#else
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
#endif
    if (kes::runSelfUpdateScan()) {
        return 0;  // a newer launcher beside this one has taken over
    }
    OutputDebugStringA("My GUI launcher 1.1.0.0 is running.\n");
    return 0;
}
