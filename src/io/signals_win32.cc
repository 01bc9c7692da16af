// Ctrl-C, Ctrl-Break and closing the console, held over a change of a
// program that owns its process: they end the run once the change is
// complete. A console handler is the process's, so a library call adds none.
// Windows has no file size limit that ends a process.
#include "io/handles_win32.h"

namespace cassmak::core {

namespace {

volatile LONG held_event = -1;
HANDLE section_done = nullptr;

BOOL WINAPI hold_console_event(DWORD event)
{
    InterlockedCompareExchange(&held_event, static_cast<LONG>(event), -1);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // The system ends the process once this returns; let the change finish.
    if (section_done)
        WaitForSingleObject(section_done, 5000);
    return FALSE;
}

} // namespace

namespace platform {

signals_held::signals_held(bool whole_process) : held_(whole_process)
{
    if (!held_)
        return;
    section_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(hold_console_event, TRUE);
}

signals_held::~signals_held()
{
    if (!held_)
        return;
    SetConsoleCtrlHandler(hold_console_event, FALSE);
    if (section_done)
        SetEvent(section_done);
    // A held Ctrl-C ends the run now, as it would have without the hold.
    if (held_event == CTRL_C_EVENT || held_event == CTRL_BREAK_EVENT)
        ExitProcess(STATUS_CONTROL_C_EXIT);
}

size_limit_fails_writes::size_limit_fails_writes() = default;

size_limit_fails_writes::~size_limit_fails_writes() = default;

} // namespace platform

} // namespace cassmak::core
