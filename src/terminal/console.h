#pragma once

// The console: keys in, one key press at a time, and text out. Keys are
// read from the console device itself (never from standard input), decoded
// into the codes the dialogue counts in; the device is raw only while a key
// is awaited, and comes back as it was found after a stop or a signal.

#include <memory>
#include <string>
#include <string_view>

namespace tavimor {

// What the dialogue needs of the console; the program uses the terminal,
// tests a script.
class ConsoleIo {
public:
    virtual ~ConsoleIo() = default;
    // A key code (0 to 255, or a lead code 0 or 224 followed by a second
    // code on the next call), or -1 when the console cannot be read.
    virtual int readKey() = 0;
    virtual void writeOutput(std::string_view text) = 0;
    virtual void writeError(std::string_view text) = 0;
    // Writes one character straight to the console.
    virtual void putConsoleChar(char c) = 0;
    // Drops keys typed but not read, when the dialogue is over.
    virtual void discardTypedAhead() = 0;
};

// The dialogue's console on this platform: keys from the controlling
// terminal or the Windows console, text to standard output.
class TerminalConsole final : public ConsoleIo {
public:
    TerminalConsole();
    ~TerminalConsole() override;
    TerminalConsole(const TerminalConsole&) = delete;
    TerminalConsole& operator=(const TerminalConsole&) = delete;

    // Standard output is flushed before the wait.
    int readKey() override;
    void writeOutput(std::string_view text) override;
    void writeError(std::string_view text) override;
    // Writes straight to the console device, after what standard output
    // holds.
    void putConsoleChar(char c) override;
    // Drops the keys the console still holds, so that nothing typed for the
    // dialogue reaches the shell afterwards.
    void discardTypedAhead() override;

    // The platform's console device (device_posix.cpp, device_windows.cpp).
    struct Device;
    struct DeviceDeleter {
        void operator()(Device* device) const;
    };

private:
    void track(std::string_view text);
    void showLineAgain();

    std::unique_ptr<Device, DeviceDeleter> device_;
    // The line the cursor is on, as written so far, so that it can be shown
    // again when the program comes back from a stop.
    std::string line_;
    std::size_t column_ = 0;
};

}  // namespace tavimor
