#include "app/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/run_names.h"
#include "geometry/convex_hull.h"
#include "geometry/split_normals.h"
#include "picture/contact_sheet.h"
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

// Decimal digits only, from low to high: no sign, no base prefix, and any
// number of leading zeros, which make no number octal.
template <typename T>
bool parseWhole(std::string_view text, std::uint64_t low, std::uint64_t high, T& value) {
    std::uint64_t whole = 0;
    const std::size_t first = text.find_first_not_of('0');
    if (!text.empty() && first == std::string_view::npos) text = "0";
    if (first != std::string_view::npos) text.remove_prefix(first);
    // Past 19 digits no number is in any option's range.
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

// Shading as the command line names it.
std::string_view shadingName(Shading shading) {
    switch (shading) {
        case Shading::Smooth: return "smooth";
        case Shading::Auto: return "auto";
        case Shading::Flat: break;
    }
    return "flat";
}

std::string range(std::uint64_t low, std::uint64_t high) { return std::to_string(low) + " to " + std::to_string(high); }

std::string defaultNote(const std::string& value) { return " (default " + value + ")"; }

std::string formatList(std::string_view separator) {
    std::string names;
    for (const Format* format : allFormats()) {
        if (!names.empty()) names += separator;
        names += format->name();
    }
    return names;
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

// What the rocks are: how many, how spiky, from which seed.
void addRockOptions(CLI::App& app, RunSettings& s) {
    const RunSettings defaults;
    addOption(app, "--count", "N", "How many rocks, " + range(1, kMostRocks) + defaultNote(std::to_string(defaults.count)),
              "a whole number from " + range(1, kMostRocks),
              [&](const std::string& text) { return parseWhole(text, 1, kMostRocks, s.count); });
    addOption(app, "--spike", "K",
              "How spiky, 0 (smooth) to " + std::to_string(kMostSpike) + defaultNote(std::to_string(defaults.spike)),
              "a whole number from " + range(0, kMostSpike),
              [&](const std::string& text) { return parseWhole(text, 0, kMostSpike, s.spike); });
    // "a, b or c", and the same with what each is.
    std::string styles, described;
    for (std::size_t i = 0; i < kStyleCount; ++i) {
        const std::string separator = i == 0 ? "" : i + 1 == kStyleCount ? " or " : ", ";
        styles += separator + std::string(kStyles[i].name);
        described += separator + std::string(kStyles[i].name) + " (" + std::string(kStyles[i].help) + ")";
    }
    addOption(app, "--style", "STYLE", "Family of rocks: " + described + defaultNote(std::string(defaults.style.name())),
              styles, [&](const std::string& text) {
                  const std::optional<Style> style = styleNamed(text);
                  if (style) s.style = *style;
                  return style.has_value();
              });
    addOption(app, "--seed", "S", "Seed of the random rocks, " + range(0, kMostSeed) + " (default: the clock, in seconds)",
              "a whole number from " + range(0, kMostSeed), [&](const std::string& text) {
                  std::uint32_t seed = 0;
                  if (!parseWhole(text, 0, kMostSeed, seed)) return false;
                  s.seed = seed;
                  return true;
              });
}

// What the files are called, in which formats, how large.
void addFileOptions(CLI::App& app, RunSettings& s) {
    const RunSettings defaults;
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
                  s.stem = text;
                  return true;
              });
    addTextOption(app, "--format", "F[,F...]",
                  "Formats, any of " + formatList(" ") + ", comma-separated" +
                      defaultNote(std::string(defaults.formats[0]->name())),
                  [&](const std::string& text) {
                      s.formats.clear();
                      const std::string what = "formats from " + formatList(" ");
                      for (const std::string_view entry : entriesOf("--format", what, text)) {
                          const Format* format = formatNamed(entry);
                          if (format == nullptr) reject("--format", what, entry);
                          if (std::find(s.formats.begin(), s.formats.end(), format) != s.formats.end()) {
                              reject("--format", what + ", each named once", text);
                          }
                          s.formats.push_back(format);
                      }
                  });
    addTextOption(app, "--scale", "X[,Y,Z]",
                  "Factor for X, Y and Z, or three factors X,Y,Z; each from " + factorText(kSmallestFactor) + " to " +
                      factorText(kLargestFactor) + defaultNote(factorText(defaults.scale.x)),
                  [&](const std::string& text) {
                      std::vector<double> factors;
                      const std::string what =
                          "factors from " + factorText(kSmallestFactor) + " to " + factorText(kLargestFactor);
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
                      s.scale = Scale{factors[0], factors[1], factors[2]};
                  });
}

// How fine the rocks are, how shaded, and how they are grouped in files.
void addSceneOptions(CLI::App& app, RunSettings& s) {
    const RunSettings defaults;
    addOption(app, "--detail", "D",
              "Detail level, " + range(0, kMostDetail) + ": each level splits every triangle into four" +
                  defaultNote(std::to_string(defaults.detail)),
              "a whole number from " + range(0, kMostDetail),
              [&](const std::string& text) { return parseWhole(text, 0, kMostDetail, s.detail); });
    addOption(app, "--shading", "S",
              "Shading, flat, smooth (a normal per vertex) or auto (smooth, split where faces meet at more than " +
                  std::to_string(kSharpDegrees) + " degrees)" + defaultNote(std::string(shadingName(defaults.shading))),
              "flat, smooth or auto", [&](const std::string& text) {
                  for (const Shading shading : {Shading::Flat, Shading::Smooth, Shading::Auto}) {
                      if (text == shadingName(shading)) {
                          s.shading = shading;
                          return true;
                      }
                  }
                  return false;
              });
    addOption(app, "--textures", "PIXELS",
              "Also bake maps of PIXELS square from each rock's finest surface, a power of two from " +
                  range(kFewestTexturePixels, kMostTexturePixels) +
                  ": base colour, normal and occlusion/roughness/metal, in glb and beside obj (ply: a colour per vertex)",
              "a power of two from " + range(kFewestTexturePixels, kMostTexturePixels), [&](const std::string& text) {
                  int pixels = 0;
                  if (!parseWhole(text, kFewestTexturePixels, kMostTexturePixels, pixels)) return false;
                  if ((pixels & (pixels - 1)) != 0) return false;
                  s.textures = pixels;
                  return true;
              });
    addFlag(app, "--lod", s.lod, "Each rock at every detail from D down to 0, as STEM<n>_LOD0 (finest) ... _LOD<D>");
    addFlag(app, "--pack", s.pack, "All rocks in one file per format, STEM.<ext>, on a grid, each standing on the ground");
}

// What a game engine wants of a rock besides its looks.
void addEngineOptions(CLI::App& app, RunSettings& s) {
    addOption(app, "--origin", "O",
              "Each rock's origin: centre, or base (its lowest point at height 0, its box centred over it)"
              " (default centre)",
              "centre or base", [&](const std::string& text) {
                  if (text != "centre" && text != "base") return false;
                  s.origin = text == "base" ? Origin::Base : Origin::Centre;
                  return true;
              });
    addFlag(app, "--collision", s.collision,
            "Also each rock's convex hull for physics engines (at most " + std::to_string(kMostHullVertices) +
                " vertices): a node " + godotHullName("NAME") + " in glb, an object " + unrealHullName("NAME") +
                " in obj, a file STEM<n>_hull.<ext> for stl and ply");
}

// The contact sheet.
void addPreviewOptions(CLI::App& app, RunSettings& s) {
    const RunSettings defaults;
    addOption(app, "--preview", "FILE.png",
              "Also draw every rock onto one PNG contact sheet, ten to a row, once the rocks are written",
              "a .png file in an existing directory", [&](const std::string& text) {
                  if (!isPngInExistingDirectory(text)) return false;
                  s.preview = text;
                  return true;
              });
    addOption(app, "--preview-size", "PIXELS",
              "Size of each rock's square on the sheet, " + range(kSmallestTile, kLargestTile) +
                  defaultNote(std::to_string(defaults.previewSize)),
              "a whole number from " + range(kSmallestTile, kLargestTile),
              [&](const std::string& text) { return parseWhole(text, kSmallestTile, kLargestTile, s.previewSize); });
}

// Where the files go, and what is printed.
void addOutputOptions(CLI::App& app, RunSettings& s) {
    addOption(app, "-o", "DIR", "Existing directory for the files (default: the current one)", "an existing directory",
              [&](const std::string& text) {
                  if (text.empty() || !isExistingDirectory(text)) return false;
                  // The names printed stay as short as the dialogue's.
                  s.directory = text == "." ? "" : text;
                  return true;
              });
    addFlag(app, "--quiet", s.quiet, "Print nothing but errors");
}

// A format asked for that does not take what else is asked for.
std::string formatClash(const RunSettings& s) {
    for (const Format* format : s.formats) {
        const FormatRefusals no = format->refusals();
        const std::string where = " where --format has " + std::string(format->name()) + " (";
        if (!no.detail.empty() && s.detail > 0) {
            return "--detail: takes 0" + where + std::string(no.detail) + "), not \"" + std::to_string(s.detail) + "\"";
        }
        if (!no.normals.empty() && s.shading != Shading::Flat) {
            return "--shading: takes flat" + where + std::string(no.normals) + "), not \"" +
                   std::string(shadingName(s.shading)) + "\"";
        }
        if (!no.style.empty() && !s.style.isClassic()) {
            return "--style: takes " + std::string(kClassic.name()) + where + std::string(no.style) + "), not \"" +
                   std::string(s.style.name()) + "\"";
        }
        if (!no.collision.empty() && s.collision) {
            return "--collision: goes with formats other than " + std::string(format->name()) + " (" +
                   std::string(no.collision) + ")";
        }
        if (!no.flatTextures.empty() && s.textures > 0 && s.shading == Shading::Flat) {
            return "--shading: takes smooth or auto with --textures" + where + std::string(no.flatTextures) +
                   "), not \"flat\"";
        }
        if (!no.textures.empty() && s.textures > 0) {
            return "--textures: goes with formats other than " + std::string(format->name()) + " (" +
                   std::string(no.textures) + ")";
        }
    }
    return {};
}

// Levels of detail and packed files, and how they go together.
std::string sceneClash(const RunSettings& s) {
    if (s.lod && s.detail == 0) return "--lod: needs --detail 1 or more (the levels run from it down to 0)";
    if (s.pack) {
        for (const Format* format : s.formats) {
            const std::string_view no = format->refusals().pack;
            if (!no.empty()) {
                return "--pack: goes with formats other than " + std::string(format->name()) + " (" + std::string(no) + ")";
            }
        }
    }
    if (s.pack && s.lod) return "--pack: goes without --lod (levels of detail are files of their own)";
    return {};
}

// A contact sheet that could not be written on every platform, or not held.
static_assert(kMostSheetPixels % 1000000 == 0, "the message says the limit in whole megapixels");
std::string previewClash(const RunSettings& s) {
    if (s.preview.empty()) return {};
    const std::string name(fileNameOf(s.preview));
    if (isWindowsDeviceName(name)) return "--preview: takes a name that is no Windows device, not \"" + name + "\"";
    const std::uint64_t most = mostRocksOnASheet(s.previewSize);
    if (static_cast<std::uint64_t>(s.count) > most) {
        return "--count: takes at most " + std::to_string(most) + " with --preview-size " + std::to_string(s.previewSize) +
               " (a contact sheet holds " + std::to_string(kMostSheetPixels / 1000000) +
               " megapixels at most), not \"" + std::to_string(s.count) + "\"";
    }
    return {};
}

// A packed file keeps within what its format can count.
std::string packLimitClash(const RunSettings& s) {
    if (!s.pack) return {};
    const LevelCounts counts = levelCounts(s.detail);
    for (const Format* format : s.formats) {
        const PackLimit limit = format->packLimit(counts, s.shading, s.collision);
        if (static_cast<std::uint64_t>(s.count) > limit.rocks) {
            return "--count: takes at most " + std::to_string(limit.rocks) + " with --pack at detail " +
                   std::to_string(s.detail) + " (" + std::string(limit.why) + "), not \"" + std::to_string(s.count) + "\"";
        }
    }
    return {};
}

// A file name that the system would not take in its directory: the run's
// longest names, and the sheet's.
std::string nameClash(const RunSettings& s) {
    for (const std::string& name : longestFileNames(s)) {
        if (!nameFitsIn(s.directory, name)) {
            return "-o: takes a directory where the run's file names fit the system's limits, not \"" +
                   (s.directory.empty() ? std::string(".") : s.directory) + "\" (" + name + ")";
        }
    }
    if (!s.preview.empty()) {
        const std::string_view name = fileNameOf(s.preview);
        if (!nameFitsIn(std::string(s.preview.substr(0, s.preview.size() - name.size())), name)) {
            return "--preview: takes a name that fits the system's limits, not \"" + s.preview + "\"";
        }
    }
    return {};
}

// What the options ask for together that cannot be: "" when it all fits.
std::string clashOf(const RunSettings& s) {
    for (const auto clash : {formatClash, sceneClash, previewClash, packLimitClash, nameClash}) {
        if (std::string found = clash(s); !found.empty()) return found;
    }
    const std::string device = firstWindowsDeviceName(s);
    if (!device.empty()) {
        return "--name: takes a stem that makes no Windows device name (CON PRN AUX NUL COM0-9 LPT0-9), not \"" +
               s.stem + "\" (" + device + ")";
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

void describeProgram(CLI::App& app) {
    // --help and --version print and succeed whatever else is given, as
    // long as the command line can be read: both are called for before any
    // other option's value is looked at.
    app.set_version_flag("--version", std::string(kVersion), "Show the version and exit");
    app.set_help_flag();
    app.add_flag_callback("-h,--help", [] { throw CLI::CallForHelp(); }, "Show this help and exit");
    app.footer(
        "Files are named STEM<n>.<ext> for n from N-1 down to 0, n zero-padded to the width of\n"
        "N-1 (ROCK79 ... ROCK00 for 80 rocks). The extensions are COB, obj (with an mtl beside\n"
        "it), glb, stl and ply. COB and STL and PLY are Z-up; glb and obj are Y-up. The seed\n"
        "is printed first: the same seed, count and spike make the same rocks again, at any\n"
        "detail. COB takes detail 0, flat shading and classic rocks only, and no --pack,\n"
        "--collision or --textures; STL takes no --textures, and glb takes them with smooth\n"
        "or auto shading.");
}

// The options that take no value.
bool isFlag(const CLI::App& app, const std::string& name) {
    const CLI::Option* option = app.get_option_no_throw(name);
    return option != nullptr && option->get_items_expected_max() == 0;
}

// A flag given a value, "--pack=no": the first such argument, or "".
// (CLI11 takes some of these as the flag off, some as on.)
std::string flagGivenAValue(const CLI::App& app, const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        const std::size_t equals = argument.find('=');
        if (argument.starts_with("--") && equals != std::string::npos && isFlag(app, argument.substr(0, equals))) {
            return argument;
        }
    }
    return {};
}

// Whether the arguments ask for the help or the version.
bool asksForHelpOrVersion(const std::vector<std::string>& arguments) {
    return std::any_of(arguments.begin(), arguments.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h" || a == "--version"; });
}

// Reads the arguments into the settings: what to print instead of running,
// or what is wrong with them; nothing when they can run.
std::optional<CommandLine> readArguments(CLI::App& app, std::vector<std::string> arguments) {
    // A flag takes no value: one line. Help and version print all the same
    // (the flag's value is only wrong, the line still readable): the value
    // is dropped for them.
    if (const std::string flag = flagGivenAValue(app, arguments); !flag.empty()) {
        if (!asksForHelpOrVersion(arguments)) {
            const std::string name = flag.substr(0, flag.find('='));
            return failure(name + ": takes no value, not \"" + flag.substr(name.size() + 1) + "\"");
        }
        for (std::string& argument : arguments) {
            const std::size_t equals = argument.find('=');
            if (argument.starts_with("--") && equals != std::string::npos && isFlag(app, argument.substr(0, equals))) {
                argument.resize(equals);
            }
        }
    }
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
    return std::nullopt;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CLI::App app("Random rocks for 3D artists: closed meshes of " + std::to_string(kVertexCount) + " vertices and " +
                     std::to_string(kFaceCount) + " faces.\n"
                     "Run without arguments, tavimor asks three questions at the console.\n"
                     "With arguments it asks nothing and writes the rocks the options describe.",
                 "tavimor");
    describeProgram(app);
    CommandLine c;
    addRockOptions(app, c.settings);
    addFileOptions(app, c.settings);
    addSceneOptions(app, c.settings);
    addEngineOptions(app, c.settings);
    addPreviewOptions(app, c.settings);
    addOutputOptions(app, c.settings);
    if (std::optional<CommandLine> instead = readArguments(app, arguments)) return *instead;
    if (app.count("--preview-size") > 0 && c.settings.preview.empty()) {
        return failure("--preview-size: goes with --preview (the size of a contact sheet's tiles)");
    }
    if (const std::string clash = clashOf(c.settings); !clash.empty()) return failure(clash);
    return c;
}

}  // namespace tavimor
