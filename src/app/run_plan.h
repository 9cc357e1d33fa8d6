#pragma once

// The run: the plan both modes build, and the one function that writes it.

#include <cstdint>
#include <string>
#include <vector>

#include "formats/formats.h"
#include "geometry/rock.h"
#include "system/file_output.h"

namespace tavimor {

// What a run writes: count rocks from one seed, each in every format. The
// dialogue's plan is count E+1, the stem as typed, COB only.
struct RunPlan {
    std::uint32_t seed = 0;
    int count = 1;
    int spike = 5;
    Scale scale = {};
    // Rock n is STEM<n>.<ext>, with n padded with zeros to the width of
    // count - 1.
    std::string stem = {};
    std::vector<Format> formats = {Format::Cob};
    // Where the files go; empty for the current directory.
    std::string directory = {};
    // Each level splits every triangle into four (COB: 0 only).
    int detail = 0;
    // One normal per position, shared by the faces around it (not COB).
    bool smooth = false;
    // Every rock at detail, detail - 1, ..., 0, as STEM<n>_LOD0 (the
    // finest) to STEM<n>_LOD<detail>.
    bool lod = false;
    // Every rock in one file per format, STEM.<ext>, on a grid on the
    // ground (not COB, not with lod).
    bool pack = false;
    // A contact sheet of every rock, written after the rocks; empty: none.
    std::string preview = {};
    int previewSize = 256;
};

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
    // Every file of done rocks out of total is complete.
    virtual void progress(int done, int total) {
        (void)done;
        (void)total;
    }
};

// The file name of rock n, without directory or extension.
std::string rockName(const RunPlan& plan, int n);

// The first name of the plan's files that Windows takes for a device (COM1
// for the stem COM: COM1.COB is the serial port; CON for a packed CON.glb),
// or "" when there is none.
std::string firstWindowsDeviceName(const RunPlan& plan);

// Writes the plan: for n from count - 1 down to 0, rock n is made once and
// written whole in every format (at every level of detail, with lod). A
// packed run writes one file per format, a rock at a time. Then, where the
// plan asks for one, the contact sheet. Ends at the first file that cannot
// be written, or when the report cannot go on; files completed before stay.
// Returns the exit status.
int writeRun(const RunPlan& plan, RunReport& report);

}  // namespace tavimor
