#include "app/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "formats/glb_file.h"
#include "formats/preview.h"
#include "geometry/detail.h"
#include "system/file_names.h"
#include "system/file_output.h"

namespace tavimor {
namespace {

constexpr std::string_view kVersion = "tavimor " TAVIMOR_VERSION;

constexpr int kMostRocks = 1000000;
constexpr int kMostSpike = 9;
constexpr std::uint64_t kMostSeed = 4294967295u;
constexpr std::size_t kLongestStem = 64;
constexpr double kSmallestFactor = 0.001;
constexpr double kLargestFactor = 1000;
constexpr std::string_view kStemCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Decimal digits only, from low to high: no sign, no base prefix.
template <typename T>
bool parseWhole(std::string_view text, std::uint64_t low, std::uint64_t high, T& value) {
    std::uint64_t whole = 0;
    if (text.empty() || text.size() > 19) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), whole);
    if (error != std::errc() || end != text.data() + text.size() || whole < low || whole > high) return false;
    value = static_cast<T>(whole);
    return true;
}

// From 0.001 to 1000: at both ends every format still holds 75 distinct
// positions, closed and facing outward (a COB file's six decimals lose the
// rock's shape far below 0.001).
bool parseFactor(std::string_view text, double& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() && std::isfinite(value) &&
           value >= kSmallestFactor && value <= kLargestFactor;
}

std::vector<std::string_view> splitList(std::string_view text) {
    std::vector<std::string_view> entries;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        entries.push_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) return entries;
        start = comma + 1;
    }
}

[[noreturn]] void reject(const std::string& option, const std::string& what, std::string_view text) {
    throw CLI::ValidationError(option, "takes " + what + ", not \"" + std::string(text) + "\"");
}

// The entries of a comma-separated list, none of them empty.
std::vector<std::string_view> entriesOf(const std::string& option, const std::string& what, std::string_view text) {
    const std::vector<std::string_view> entries = splitList(text);
    for (const std::string_view entry : entries) {
        if (entry.empty()) reject(option, what + ", comma-separated with no empty entry", text);
    }
    return entries;
}

// Each option may be given once. CLI11 runs the options' callbacks once all
// the arguments are read, so the count is known there, before the value is
// looked at.
void givenOnce(const CLI::App& app, const std::string& name) {
    if (app.get_option(name)->count() > 1) throw CLI::ValidationError(name, "may be given once only");
}

// An option with one value, its text handled once by handle.
template <typename Handle>
CLI::Option* addTextOption(CLI::App& app, const std::string& name, const std::string& typeName,
                           const std::string& help, Handle handle) {
    return app
        .add_option_function<std::string>(
            name,
            [&app, name, handle](const std::string& text) {
                givenOnce(app, name);
                handle(text);
            },
            help)
        ->type_name(typeName)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// A flag, which may be given once as well.
CLI::Option* addFlag(CLI::App& app, const std::string& name, bool& value, const std::string& help) {
    return app.add_flag_callback(
        name,
        [&app, name, &value] {
            givenOnce(app, name);
            value = true;
        },
        help);
}

// An option with one value. parse turns the text into the run's typed
// value, once, or returns false; the message then says what the option
// takes.
template <typename Parse>
CLI::Option* addOption(CLI::App& app, const std::string& name, const std::string& typeName, const std::string& help,
                       const std::string& takes, Parse parse) {
    return addTextOption(app, name, typeName, help, [name, takes, parse](const std::string& text) {
        if (!parse(text)) reject(name, takes, text);
    });
}

std::string range(std::uint64_t low, std::uint64_t high) { return std::to_string(low) + " to " + std::to_string(high); }

std::string defaultNote(const std::string& value) { return " (default " + value + ")"; }

std::string formatList(std::string_view separator) {
    std::string names;
    for (const FormatName& known : kFormatNames) {
        if (!names.empty()) names += separator;
        names += known.name;
    }
    return names;
}

std::string nameOf(Format format) {
    for (const FormatName& known : kFormatNames) {
        if (known.format == format) return std::string(known.name);
    }
    return {};
}

// The shortest text that reads back as the factor.
std::string factorText(double factor) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, factor).ptr);
}

// Every option's name, --help and --version last.
std::string optionList(const CLI::App& app) {
    std::string names;
    for (const CLI::Option* option : app.get_options()) {
        const std::string name = option->get_name();
        if (name != "--help" && name != "--version") names += name + " ";
    }
    return names + "--help --version";
}

// A name ending in .png (in any case) whose directory exists: a sheet
// nobody could find, or write at all, is refused before anything is made.
bool isPngInExistingDirectory(const std::string& path) {
    return hasExtension(fileNameOf(path), ".png") && isExistingDirectory(directoryOf(path));
}

bool has(const RunOptions& o, Format format) {
    return std::find(o.formats.begin(), o.formats.end(), format) != o.formats.end();
}

// What the options ask for together that cannot be: "" when it all fits.
std::string clashOf(const RunOptions& o) {
    const bool cob = has(o, Format::Cob);
    if (cob && o.detail > 0) {
        return "--detail: takes 0 where --format has cob (a COB file holds detail 0 only), not \"" +
               std::to_string(o.detail) + "\"";
    }
    if (cob && o.smooth) return "--shading: takes flat where --format has cob (a COB file has no normals), not \"smooth\"";
    if (o.lod && o.detail == 0) return "--lod: needs --detail 1 or more (the levels run from it down to 0)";
    if (o.pack && cob) return "--pack: goes with formats other than cob (a COB file holds one rock)";
    if (o.pack && o.lod) return "--pack: goes without --lod (levels of detail are files of their own)";
    if (!o.preview.empty()) {
        const std::string name(fileNameOf(o.preview));
        if (isWindowsDeviceName(name)) return "--preview: takes a name that is no Windows device, not \"" + name + "\"";
        const auto size = static_cast<std::uint64_t>(o.previewSize);
        const std::uint64_t most = kMostSheetPixels / (size * size);
        if (static_cast<std::uint64_t>(o.count) > most) {
            return "--count: takes at most " + std::to_string(most) + " with --preview-size " +
                   std::to_string(o.previewSize) + " (a contact sheet holds 64 megapixels at most), not \"" +
                   std::to_string(o.count) + "\"";
        }
    }
    if (!o.pack) return {};
    // A packed file keeps within what its format can count.
    const LevelCounts counts = levelCounts(o.detail);
    const auto rocks = static_cast<std::uint64_t>(o.count);
    const struct {
        Format format;
        std::uint64_t perRock, most;
        const char* why;
    } limits[] = {
        {Format::Stl, counts.faces, 4294967295u, "an STL file counts at most 4294967295 facets"},
        {Format::Ply, counts.positions, 2147483647u, "a PLY file's corners reach at most vertex 2147483647"},
        // The JSON of a rock takes well under 2 KiB.
        {Format::Glb, glbBlockSize(counts, o.smooth) + 2048, 4294967295u - 4096, "a glb file holds at most 4 GiB"},
    };
    for (const auto& limit : limits) {
        if (has(o, limit.format) && rocks > limit.most / limit.perRock) {
            return "--count: takes at most " + std::to_string(limit.most / limit.perRock) + " with --pack at detail " +
                   std::to_string(o.detail) + " (" + limit.why + "), not \"" + std::to_string(o.count) + "\"";
        }
    }
    return {};
}

CommandLine failure(std::string text) {
    CommandLine c;
    c.action = CommandLine::Action::Fail;
    c.text = "tavimor: " + std::move(text);
    return c;
}

CommandLine printing(std::string text) {
    CommandLine c;
    c.action = CommandLine::Action::Print;
    c.text = std::move(text);
    return c;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CLI::App app("Random rocks for 3D artists: closed meshes of 75 vertices and 146 faces.\n"
                 "Run without arguments, tavimor asks three questions at the console.\n"
                 "With arguments it asks nothing and writes the rocks the options describe.",
                 "tavimor");
    app.set_version_flag("--version", std::string(kVersion), "Show the version and exit");
    app.set_help_flag("-h,--help", "Show this help and exit");
    app.footer(
        "Files are named STEM<n>.<ext> for n from N-1 down to 0, n zero-padded to the width of\n"
        "N-1 (ROCK79 ... ROCK00 for 80 rocks). The extensions are COB, obj (with an mtl beside\n"
        "it), glb, stl and ply. COB and STL and PLY are Z-up; glb and obj are Y-up. The seed\n"
        "is printed first: the same seed, count and spike make the same rocks again, at any\n"
        "detail. COB takes detail 0 and flat shading only, and no --pack.");

    CommandLine c;
    RunOptions& o = c.options;
    const RunOptions defaults;

    addOption(app, "--count", "N", "How many rocks, " + range(1, kMostRocks) + defaultNote(std::to_string(defaults.count)),
              "a whole number from " + range(1, kMostRocks),
              [&](const std::string& text) { return parseWhole(text, 1, kMostRocks, o.count); });
    addOption(app, "--spike", "K",
              "How spiky, 0 (smooth) to " + std::to_string(kMostSpike) + defaultNote(std::to_string(defaults.spike)),
              "a whole number from " + range(0, kMostSpike),
              [&](const std::string& text) { return parseWhole(text, 0, kMostSpike, o.spike); });
    addOption(app, "--seed", "S", "Seed of the random rocks, " + range(0, kMostSeed) + " (default: the clock, in seconds)",
              "a whole number from " + range(0, kMostSeed), [&](const std::string& text) {
                  std::uint32_t seed = 0;
                  if (!parseWhole(text, 0, kMostSeed, seed)) return false;
                  o.seed = seed;
                  return true;
              });
    // A stem may not start with "-": "--name --help" would write a file
    // called --help0.COB, which no shell command can name plainly.
    const std::string stemRule = "1 to " + std::to_string(kLongestStem) + " of A-Z a-z 0-9 - _, not starting with -";
    addOption(app, "--name", "STEM", "File name stem, " + stemRule + ", kept as typed" + defaultNote(defaults.stem),
              "1 to " + std::to_string(kLongestStem) + " characters from A-Z a-z 0-9 - _, the first not -",
              [&](const std::string& text) {
                  if (text.empty() || text.size() > kLongestStem || text.front() == '-' ||
                      text.find_first_not_of(kStemCharacters) != std::string::npos) {
                      return false;
                  }
                  o.stem = text;
                  return true;
              });
    addTextOption(app, "--format", "F[,F...]",
           "Formats, any of " + formatList(" ") + ", comma-separated" + defaultNote(nameOf(defaults.formats[0])),
           [&](const std::string& text) {
               o.formats.clear();
               const std::string what = "formats from " + formatList(" ");
               for (const std::string_view entry : entriesOf("--format", what, text)) {
                   const auto known = std::find_if(std::begin(kFormatNames), std::end(kFormatNames),
                                                   [&](const FormatName& f) { return f.name == entry; });
                   if (known == std::end(kFormatNames)) reject("--format", what, entry);
                   // Each format is written once, in the order first asked for.
                   if (std::find(o.formats.begin(), o.formats.end(), known->format) == o.formats.end()) {
                       o.formats.push_back(known->format);
                   }
               }
           });
    addTextOption(app, "--scale", "X[,Y,Z]",
           "Factor for X, Y and Z, or three factors X,Y,Z; each from " + factorText(kSmallestFactor) + " to " +
               factorText(kLargestFactor) + defaultNote(factorText(defaults.scale.x)),
           [&](const std::string& text) {
               std::vector<double> factors;
               const std::string what = "factors from " + factorText(kSmallestFactor) + " to " + factorText(kLargestFactor);
               for (const std::string_view entry : entriesOf("--scale", what, text)) {
                   double factor = 0;
                   if (!parseFactor(entry, factor)) reject("--scale", what, entry);
                   factors.push_back(factor);
               }
               if (factors.size() == 1) factors.assign(3, factors[0]);
               if (factors.size() != 3) {
                   throw CLI::ValidationError("--scale", "takes one factor or three (X,Y,Z), not " +
                                                             std::to_string(factors.size()));
               }
               o.scale = Scale{factors[0], factors[1], factors[2]};
           });
    addOption(app, "--detail", "D",
              "Detail level, " + range(0, kMostDetail) + ": each level splits every triangle into four" +
                  defaultNote(std::to_string(defaults.detail)),
              "a whole number from " + range(0, kMostDetail),
              [&](const std::string& text) { return parseWhole(text, 0, kMostDetail, o.detail); });
    addOption(app, "--shading", "S", std::string("Shading, flat or smooth (a normal per vertex)") +
                                         defaultNote(defaults.smooth ? "smooth" : "flat"),
              "flat or smooth", [&](const std::string& text) {
                  if (text != "flat" && text != "smooth") return false;
                  o.smooth = text == "smooth";
                  return true;
              });
    addFlag(app, "--lod", o.lod, "Each rock at every detail from D down to 0, as STEM<n>_LOD0 (finest) ... _LOD<D>");
    addFlag(app, "--pack", o.pack, "All rocks in one file per format, STEM.<ext>, on a grid on the ground");
    addOption(app, "--preview", "FILE.png",
              "Also draw every rock onto one PNG contact sheet, ten to a row, once the rocks are written",
              "a .png file in an existing directory", [&](const std::string& text) {
                  if (!isPngInExistingDirectory(text)) return false;
                  o.preview = text;
                  return true;
              });
    addOption(app, "--preview-size", "PIXELS",
              "Size of each rock's square on the sheet, " + range(kSmallestTile, kLargestTile) +
                  defaultNote(std::to_string(defaults.previewSize)),
              "a whole number from " + range(kSmallestTile, kLargestTile),
              [&](const std::string& text) { return parseWhole(text, kSmallestTile, kLargestTile, o.previewSize); });
    addOption(app, "-o", "DIR", "Existing directory for the files (default: the current one)", "an existing directory",
              [&](const std::string& text) {
                  if (text.empty() || !isExistingDirectory(text)) return false;
                  o.directory = text;
                  return true;
              });
    addFlag(app, "--quiet", o.quiet, "Print nothing but errors");

    // CLI11 takes the arguments last to first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return printing(app.help());
    } catch (const CLI::CallForVersion&) {
        return printing(std::string(kVersion) + "\n");
    } catch (const CLI::ExtrasError&) {
        // Named in the order given (CLI11's own message has them backwards).
        const std::vector<std::string> extras = app.remaining();
        std::string listed;
        for (const std::string& extra : extras) listed += (listed.empty() ? "" : " ") + extra;
        return failure((extras.size() == 1 ? "The following argument was not expected: "
                                           : "The following arguments were not expected: ") +
                       listed + " (the options are " + optionList(app) + ")");
    } catch (const CLI::ParseError& e) {
        return failure(e.what());
    }
    if (const std::string clash = clashOf(o); !clash.empty()) return failure(clash);
    const std::string device = firstWindowsDeviceName(planOf(o, 0));
    if (!device.empty()) {
        return failure("--name: takes a stem that makes no Windows device name (CON PRN AUX NUL COM0-9 LPT0-9), not \"" +
                       o.stem + "\" (" + device + ")");
    }
    return c;
}

RunPlan planOf(const RunOptions& options, std::uint32_t seed) {
    return RunPlan{.seed = seed,
                   .count = options.count,
                   .spike = options.spike,
                   .scale = options.scale,
                   .stem = options.stem,
                   .formats = options.formats,
                   .directory = options.directory == "." ? "" : options.directory,
                   .detail = options.detail,
                   .smooth = options.smooth,
                   .lod = options.lod,
                   .pack = options.pack,
                   .preview = options.preview,
                   .previewSize = options.previewSize};
}

}  // namespace tavimor
