#include <windows.h>

#include "start/dll_search.h"
#include "start/start_flow.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    kes::restrictDllSearchToSystem32();
    return kes::runStartFlow();
}
