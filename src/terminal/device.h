#pragma once

// What each platform gives the console: its console device, with system
// calls only (device_posix.cpp, device_windows.cpp). Internal to terminal/.

#include <functional>

#include "terminal/console.h"

namespace tavimor {

// The device, opened on first use; never null.
TerminalConsole::Device* makeDevice();

// Waits for one key press with the device raw, and returns its code (0 to
// 255, or a lead code whose second code the next call returns at once), or
// -1 when the device cannot be read. afterStop runs when the wait comes back
// from a stop (POSIX job control), before it goes on waiting.
int readDeviceKey(TerminalConsole::Device& device, const std::function<void()>& afterStop);

// Writes c to the device; false when there is no device to write to.
bool putDeviceChar(TerminalConsole::Device& device, char c);

// Drops the key presses the device holds.
void discardDeviceInput(TerminalConsole::Device& device);

}  // namespace tavimor
