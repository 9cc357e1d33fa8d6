#include "app/scripted_run.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "app/run_plan.h"
#include "system/exit_status.h"
#include "system/standard_streams.h"

namespace tavimor {
namespace {

using SteadyClock = std::chrono::steady_clock;

// "rocks done of N, rocks per second" on standard error, redrawn in place,
// for runs that take longer than a second on a terminal. Where the names
// go to the same terminal, the line is taken off before each name; where
// they go elsewhere, it stays, and the last count is left standing.
class Progress {
public:
    explicit Progress(bool wanted)
        : wanted_(wanted && standardErrorIsTerminal()), sharesTerminal_(wanted_ && outputSharesErrorsTerminal()) {}
    ~Progress() {
        if (!shown_) return;
        if (sharesTerminal_) {
            putError("\r\x1b[K");
        } else {
            draw();
            putError("\n");
        }
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(int done, int total) {
        if (!wanted_) return;
        done_ = done;
        total_ = total;
        const auto now = SteadyClock::now();
        if (now - start_ < std::chrono::seconds(1) || now - drawn_ < std::chrono::milliseconds(200)) return;
        drawn_ = now;
        draw();
    }

    // Before a name: off the screen where the name would land on it.
    void makeWayForName() {
        if (!shown_ || !sharesTerminal_) return;
        putError("\r\x1b[K");
        shown_ = false;
    }

    // Before a message: whatever terminal the line is on, the message starts
    // a line of its own.
    void makeWayForMessage() {
        if (!shown_) return;
        putError(sharesTerminal_ ? "\r\x1b[K" : "\n");
        shown_ = false;
    }

private:
    void draw() {
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start_).count();
        char line[96];
        const int n = std::snprintf(line, sizeof line, "\r%d of %d rocks, %.0f rocks/s\x1b[K", done_, total_,
                                    done_ / seconds);
        putError(std::string_view(line, static_cast<std::size_t>(n)));
        shown_ = true;
    }

    bool wanted_;
    bool sharesTerminal_;
    int done_ = 0;
    int total_ = 0;
    bool shown_ = false;
    SteadyClock::time_point start_ = SteadyClock::now();
    SteadyClock::time_point drawn_{};
};

// A scripted run names each file the moment it is in place, and a failure
// with the file's name on standard error.
class ScriptedReport final : public RunReport {
public:
    explicit ScriptedReport(bool quiet) : quiet_(quiet), progress_(!quiet) {}

    void writing(const std::string&) override {
        if (!quiet_) progress_.makeWayForName();
    }
    std::string doneLine(const std::string& path) override { return quiet_ ? std::string() : path + "\n"; }
    void failed(const std::string& path, SaveResult result) override {
        progress_.makeWayForMessage();
        putError(path + ": " + std::string(saveFailureMessage(result)) + "\n");
    }
    void progress(int done, int total) override { progress_.update(done, total); }

private:
    bool quiet_;
    Progress progress_;
};

}  // namespace

int runScripted(const RunPlan& plan, bool quiet) {
    if (!quiet) putOutput("seed " + std::to_string(plan.seed) + "\n");
    ScriptedReport report(quiet);
    return writeRun(plan, report);
}

}  // namespace tavimor
