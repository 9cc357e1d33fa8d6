#pragma once

// The run: the one function that writes what the settings describe, for
// both modes, and what it tells as it goes.

#include <string>
#include <string_view>

#include "app/run_settings.h"
#include "system/file_output.h"

namespace tavimor {

// What a run tells as it goes; the dialogue and the scripted run each show
// it their own way.
class RunReport {
public:
    virtual ~RunReport() = default;
    // The file at path is about to be written.
    virtual void writing(const std::string& path) { (void)path; }
    // What goes to standard output the moment the file at path is in place:
    // its name, or nothing.
    virtual std::string doneLine(const std::string& path) {
        (void)path;
        return {};
    }
    // The file at path could not be written; the run ends.
    virtual void failed(const std::string& path, SaveResult result) = 0;
    // The file at path could not be made at all, for the reason given (its
    // format cannot hold it); the run ends.
    virtual void notMade(const std::string& path, std::string_view why) = 0;
    // done of total steps are complete (a step: a rock in every file of it).
    virtual void progress(long long done, long long total) {
        (void)done;
        (void)total;
    }
};

// Writes what settings describe (its seed set): for n from count - 1 down
// to 0, rock n is made once and written whole in every format (at every
// level of detail, with lod). A packed run writes one file per format, a
// rock at a time. Then, where asked for, the contact sheet. Ends at the
// first file that cannot be written, or when standard output fails; files
// completed before stay. Returns the exit status.
int writeRun(const RunSettings& settings, RunReport& report);

}  // namespace tavimor
