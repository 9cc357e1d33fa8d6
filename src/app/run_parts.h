#pragma once

// What the run's parts share: its levels and materials, its writers, a
// made rock as the formats take it, and saving a file. Internal to app/.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/rock_sequence.h"
#include "app/run.h"
#include "app/run_settings.h"
#include "formats/format.h"
#include "system/file_output.h"

namespace tavimor {

// How one file went; false when the run ends here: at a file that failed,
// or once what the run prints can no longer be written.
bool saved(RunReport& report, const std::string& path, SaveResult result);

// A file made whole in memory, then saved.
bool saveMade(RunReport& report, OutputDirectory& directory, const std::string& name, const std::string& bytes);

// What a run's rocks are made of and look like, the same for every rock:
// its settings, the detail levels, each level's texture coordinates and
// the style's material.
struct RunLevels {
    const RunSettings& settings;
    const DetailLevels& levels;
    // [d] for level d.
    std::vector<TextureCoordinates> textures;
    const Material& material;
};
RunLevels runLevelsOf(const RunSettings& settings, const DetailLevels& levels);

// What the files of a run need of each rock: levels, its normals as the
// shading has them, its hull where asked for.
SequenceNeeds needsOf(const RunSettings& settings, int levels, std::function<void(MadeRock&)> finish = {});

// The format writers of one detail level, in the order of the formats.
using LevelWriters = std::vector<std::unique_ptr<LevelWriter>>;
LevelWriters writersFor(const RunSettings& settings, const LevelMesh& level);

// Why a rock whose maps could not be encoded is not written, and whether
// the run bakes maps and one of the rock's is missing for that.
inline constexpr std::string_view kMapsFailed = "the PNG encoder failed on its maps";
bool mapsFailed(const RunSettings& settings, const MadeRock& rock);

// Level k of a made rock (detail - k), as the formats take it, named as in
// a file of its own: Rock<n>, as files have always named it, or, for a
// level of detail, as its file: STEM<n>_LOD<k>. Its hull goes with the
// finest level.
RockMesh meshOf(const RunLevels& run, const MadeRock& rock, std::size_t k);

// Every rock of a packed run in one file per format (and its hulls' where
// the format keeps them apart); reach becomes the farthest any rock's
// position lies from its centre. Returns the exit status.
int writePacked(const RunLevels& run, OutputDirectory& directory, RunReport& report, double& reach);

}  // namespace tavimor
