#include <windows.h>

#include "dll_search.h"
#include "start_flow.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    kes::restrictDllSearchToSystem32();
    return kes::runStartFlow();
}
