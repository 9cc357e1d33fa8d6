#include <conio.h>
#include <windows.h>

#include "system/signals.h"
#include "terminal/device.h"

namespace tavimor {
namespace {

// Shared with the console control handler, through the terminal hooks;
// changed only under the lock SignalBlock takes.
DWORD foundMode = 0;
bool raw = false;

void restoreConsole() {
    if (raw) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), foundMode);
    raw = false;
}

// Switches the console's input to raw mode (no line editing, no echo, Ctrl+C
// a key), noting the mode found for every way out.
bool enterRawMode() {
    SignalBlock block;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return false;
    // Without processed input Ctrl+C is the key code 3, as on Linux.
    if (!SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT |
                                                          ENABLE_ECHO_INPUT))) {
        return false;
    }
    foundMode = mode;
    raw = true;
    return true;
}

void leaveRawMode() {
    SignalBlock block;
    restoreConsole();
}

}  // namespace

// On Windows the console itself reports keys the way the dialogue counts
// them: _getch gives a character's code, or a lead code (0, or 224 from the
// classic console; Windows Terminal sends 0 for both) and then the second
// code at once.
struct TerminalConsole::Device {
    // Without a console (input redirected) _getch would report the end of
    // input for ever; once unreadable, always unreadable.
    bool unreadable = false;
};

void TerminalConsole::DeviceDeleter::operator()(Device* device) const { delete device; }

TerminalConsole::Device* makeDevice() {
    setTerminalHooks({restoreConsole, nullptr});
    return new TerminalConsole::Device;
}

int readDeviceKey(TerminalConsole::Device& device, const std::function<void()>&) {
    if (device.unreadable || !enterRawMode()) {
        device.unreadable = true;
        return -1;
    }
    const int code = _getch();
    leaveRawMode();
    if (code < 0 || code > 255) {  // EOF: the end of input
        device.unreadable = true;
        return -1;
    }
    return code;
}

bool putDeviceChar(TerminalConsole::Device&, char) { return false; }

void discardDeviceInput(TerminalConsole::Device& device) {
    if (device.unreadable) return;
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

}  // namespace tavimor
