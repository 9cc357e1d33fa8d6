#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "terminal/console.h"

namespace tavimor {

// A console that plays back key codes and records everything written.
// When the script runs out, every further read fails (-1).
class ScriptedConsole final : public ConsoleIo {
public:
    explicit ScriptedConsole(std::deque<int> keys) : keys_(std::move(keys)) {}

    int readKey() override {
        ++reads;
        if (keys_.empty()) return -1;
        const int code = keys_.front();
        keys_.pop_front();
        return code;
    }
    void writeOutput(std::string_view text) override { screen.append(text); }
    void writeError(std::string_view text) override { errors.append(text); }
    void putConsoleChar(char c) override { screen.push_back(c); }
    void discardTypedAhead() override { ++discards; }

    std::size_t keysLeft() const { return keys_.size(); }

    std::string screen;
    std::string errors;
    int reads = 0;
    int discards = 0;

private:
    std::deque<int> keys_;
};

}  // namespace tavimor
