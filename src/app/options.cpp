#include "app/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

namespace tavimor {
namespace {

constexpr std::string_view kVersion = "tavimor " TAVIMOR_VERSION;

constexpr int kMostRocks = 1000000;
constexpr int kMostSpike = 9;
constexpr std::uint64_t kMostSeed = 4294967295u;
constexpr std::size_t kLongestStem = 64;
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

bool parseFactor(std::string_view text, double& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() && std::isfinite(value) &&
           value > 0 && value <= kLargestFactor;
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

// An option with one value. parse turns the text into the run's typed
// value, once, or returns false; the message then says what the option
// takes.
template <typename Parse>
CLI::Option* addOption(CLI::App& app, const std::string& name, const std::string& typeName, const std::string& help,
                       const std::string& takes, Parse parse) {
    return app
        .add_option_function<std::string>(
            name,
            [name, takes, parse](const std::string& text) {
                if (!parse(text)) reject(name, takes, text);
            },
            help)
        ->type_name(typeName);
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
        "is printed first: the same seed, count and spike make the same rocks again.");

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
    const std::string stemRule = "1 to " + std::to_string(kLongestStem) + " of A-Z a-z 0-9 - _";
    addOption(app, "--name", "STEM", "File name stem, " + stemRule + ", kept as typed" + defaultNote(defaults.stem),
              "1 to " + std::to_string(kLongestStem) + " characters from A-Z a-z 0-9 - _",
              [&](const std::string& text) {
                  if (text.empty() || text.size() > kLongestStem ||
                      text.find_first_not_of(kStemCharacters) != std::string::npos) {
                      return false;
                  }
                  o.stem = text;
                  return true;
              });
    app.add_option_function<std::string>(
           "--format",
           [&](const std::string& text) {
               o.formats.clear();
               for (const std::string_view entry : splitList(text)) {
                   if (entry.empty()) continue;
                   const auto known = std::find_if(std::begin(kFormatNames), std::end(kFormatNames),
                                                   [&](const FormatName& f) { return f.name == entry; });
                   if (known == std::end(kFormatNames)) reject("--format", "formats from " + formatList(" "), entry);
                   // Each format is written once, in the order first asked for.
                   if (std::find(o.formats.begin(), o.formats.end(), known->format) == o.formats.end()) {
                       o.formats.push_back(known->format);
                   }
               }
           },
           "Formats, any of " + formatList(" ") + ", comma-separated" + defaultNote(nameOf(defaults.formats[0])))
        ->type_name("F[,F...]");
    app.add_option_function<std::string>(
           "--scale",
           [&](const std::string& text) {
               std::vector<double> factors;
               for (const std::string_view entry : splitList(text)) {
                   if (entry.empty()) continue;
                   double factor = 0;
                   if (!parseFactor(entry, factor)) {
                       reject("--scale", "factors above 0 and at most " + factorText(kLargestFactor), entry);
                   }
                   factors.push_back(factor);
               }
               if (factors.size() == 1) factors.assign(3, factors[0]);
               if (factors.size() != 3) {
                   throw CLI::ValidationError("--scale", "takes one factor or three (X,Y,Z), not " +
                                                             std::to_string(factors.size()));
               }
               o.scale = Scale{factors[0], factors[1], factors[2]};
           },
           "Factor for X, Y and Z, or three factors X,Y,Z; each above 0 and at most " + factorText(kLargestFactor) +
               defaultNote(factorText(defaults.scale.x)))
        ->type_name("X[,Y,Z]");
    addOption(app, "-o", "DIR", "Existing directory for the files (default: the current one)", "an existing directory",
              [&](const std::string& text) {
                  std::error_code error;
                  if (text.empty() || !std::filesystem::is_directory(text, error)) return false;
                  o.directory = text;
                  return true;
              });
    app.add_flag("--quiet", o.quiet, "Print nothing but errors");

    // CLI11 takes the arguments last to first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return printing(app.help());
    } catch (const CLI::CallForVersion&) {
        return printing(std::string(kVersion) + "\n");
    } catch (const CLI::ExtrasError& e) {
        return failure(std::string(e.what()) +
                       " (the options are --count --spike --seed --name --format --scale -o --quiet --help --version)");
    } catch (const CLI::ParseError& e) {
        return failure(e.what());
    }
    return c;
}

}  // namespace tavimor
