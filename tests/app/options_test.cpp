#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/glb_file.h"
#include "formats/obj_file.h"
#include "formats/ply_file.h"
#include "formats/stl_file.h"

namespace tavimor {
namespace {

TEST(Options, ValuesReachTheRunTyped) {
    const struct {
        std::vector<std::string> args;
        RunSettings expected;
    } cases[] = {
        {{"--quiet"}, RunSettings{.quiet = true}},
        {{"--count", "1000000", "--spike", "0"}, RunSettings{.count = 1000000, .spike = 0}},
        // Leading zeros are decimal, never octal.
        {{"--count", "010", "--seed", "0010"}, RunSettings{.count = 10, .seed = 10u}},
        // Any number of them, one rule for every whole number.
        {{"--seed", "000000000000000000000000000001", "--count", "05"}, RunSettings{.count = 5, .seed = 1u}},
        {{"--seed", "0000000000000000000000000", "--spike", "00"}, RunSettings{.spike = 0, .seed = 0u}},
        {{"--seed", "4294967295"}, RunSettings{.seed = 4294967295u}},
        {{"--seed=0", "--name=a-B_9"}, RunSettings{.seed = 0u, .stem = "a-B_9"}},
        {{"--format", "stl,obj,cob"}, RunSettings{.formats = {&stlFormat(), &objFormat(), &cobFormat()}}},
        {{"--count", "60", "--preview", "s.png", "--preview-size", "1024", "--format", "glb"}, RunSettings{.count = 60, .formats = {&glbFormat()}}},
        {{"--origin", "base", "--collision", "--format", "stl,ply"},
         RunSettings{.formats = {&stlFormat(), &plyFormat()}, .origin = Origin::Base, .collision = true}},
        {{"--origin", "centre", "--format", "cob"}, RunSettings{}},
        {{"--textures", "128", "--format", "glb,obj,ply", "--shading", "smooth"},
         RunSettings{.formats = {&glbFormat(), &objFormat(), &plyFormat()}, .shading = Shading::Smooth, .textures = 128}},
        {{"--textures", "04096", "--format", "obj"}, RunSettings{.formats = {&objFormat()}, .textures = 4096}},
        {{"--style", "shard", "--shading", "auto", "--format", "glb"},
         RunSettings{.style = *styleNamed("shard"), .formats = {&glbFormat()}, .shading = Shading::Auto}},
        {{"--style", "classic"}, RunSettings{}},
        {{"--scale", "2"}, RunSettings{.scale = {2, 2, 2}}},
        {{"--scale", "0.5,1e3,0.1"}, RunSettings{.scale = {0.5, 1000, 0.1}}},
        {{"-o", "/"}, RunSettings{.directory = "/"}},
        {{"--scale", "0.001,1000,1"}, RunSettings{.scale = {0.001, 1000, 1}}},
        // Two digits, or a stem that only looks like a device, name no device.
        {{"--name", "COM", "--count", "11"}, RunSettings{.count = 11, .stem = "COM"}},
        {{"--name", "CON"}, RunSettings{.stem = "CON"}},
        {{"--detail", "6", "--shading", "smooth", "--format", "glb"},
         RunSettings{.formats = {&glbFormat()}, .detail = 6, .shading = Shading::Smooth}},
        {{"--detail", "1", "--lod", "--format", "obj", "--shading", "flat"},
         RunSettings{.formats = {&objFormat()}, .detail = 1, .lod = true}},
        {{"--pack", "--format", "stl", "--count", "7182", "--detail", "6"},
         RunSettings{.count = 7182, .formats = {&stlFormat()}, .detail = 6, .pack = true}},
        // Levels of detail end in _LOD<k>: COM names no device there.
        {{"--name", "COM", "--lod", "--detail", "1", "--format", "glb"},
         RunSettings{.stem = "COM", .formats = {&glbFormat()}, .detail = 1, .lod = true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const CommandLine command = parseCommandLine(c.args);
        ASSERT_EQ(command.action, CommandLine::Action::Run) << command.text;
        const RunSettings& o = command.settings;
        const RunSettings& e = c.expected;
        EXPECT_EQ(o.count, e.count);
        EXPECT_EQ(o.spike, e.spike);
        EXPECT_EQ(o.style, e.style);
        EXPECT_EQ(o.seed, e.seed);
        EXPECT_EQ(o.stem, e.stem);
        EXPECT_EQ(o.formats, e.formats);
        EXPECT_EQ(o.scale.x, e.scale.x);
        EXPECT_EQ(o.scale.y, e.scale.y);
        EXPECT_EQ(o.scale.z, e.scale.z);
        EXPECT_EQ(o.directory, e.directory);
        EXPECT_EQ(o.quiet, e.quiet);
        EXPECT_EQ(o.detail, e.detail);
        EXPECT_EQ(o.shading, e.shading);
        EXPECT_EQ(o.lod, e.lod);
        EXPECT_EQ(o.pack, e.pack);
        EXPECT_EQ(o.origin, e.origin);
        EXPECT_EQ(o.collision, e.collision);
    }
}

TEST(Options, BadValuesFailWithOneLineNamingTheOption) {
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"--count", "0"}, "tavimor: --count: takes a whole number from 1 to 1000000, not \"0\""},
        {{"--count", "0x10"}, "tavimor: --count: takes a whole number from 1 to 1000000, not \"0x10\""},
        {{"--count", "1000001"}, "tavimor: --count: takes a whole number from 1 to 1000000, not \"1000001\""},
        {{"--seed", "+5"}, "tavimor: --seed: takes a whole number from 0 to 4294967295, not \"+5\""},
        {{"--name", ""}, "tavimor: --name: takes 1 to 64 characters from A-Z a-z 0-9 - _, the first not -, not \"\""},
        {{"--name", std::string(65, 'a')},
         "tavimor: --name: takes 1 to 64 characters from A-Z a-z 0-9 - _, the first not -, not \"" + std::string(65, 'a') + "\""},
        {{"--spike", "-1"}, "tavimor: --spike: takes a whole number from 0 to 9, not \"-1\""},
        {{"--seed", "4294967296"}, "tavimor: --seed: takes a whole number from 0 to 4294967295, not \"4294967296\""},
        {{"--name", "rock.cob"}, "tavimor: --name: takes 1 to 64 characters from A-Z a-z 0-9 - _, the first not -, not \"rock.cob\""},
        {{"--format", "cob,gltf"}, "tavimor: --format: takes formats from cob obj glb stl ply, not \"gltf\""},
        {{"--scale", "nan"}, "tavimor: --scale: takes factors from 0.001 to 1000, not \"nan\""},
        {{"--scale", "0"}, "tavimor: --scale: takes factors from 0.001 to 1000, not \"0\""},
        {{"--scale", "1000.5"}, "tavimor: --scale: takes factors from 0.001 to 1000, not \"1000.5\""},
        {{"--scale", "inf"}, "tavimor: --scale: takes factors from 0.001 to 1000, not \"inf\""},
        {{"--scale", "1,2"}, "tavimor: --scale: takes one factor or three (X,Y,Z), not 2"},
        {{"-o", ""}, "tavimor: -o: takes an existing directory, not \"\""},
        {{"--name", "--help"}, "tavimor: --name: takes 1 to 64 characters from A-Z a-z 0-9 - _, the first not -, "
                               "not \"--help\""},
        {{"--scale", "0.0009"}, "tavimor: --scale: takes factors from 0.001 to 1000, not \"0.0009\""},
        {{"--format", "cob,,obj"}, "tavimor: --format: takes formats from cob obj glb stl ply, comma-separated with "
                                   "no empty entry, not \"cob,,obj\""},
        {{"--format", "obj,"}, "tavimor: --format: takes formats from cob obj glb stl ply, comma-separated with "
                               "no empty entry, not \"obj,\""},
        {{"--scale", ",1"}, "tavimor: --scale: takes factors from 0.001 to 1000, comma-separated with no empty "
                            "entry, not \",1\""},
        {{"--scale", "1,2,3,"}, "tavimor: --scale: takes factors from 0.001 to 1000, comma-separated with no empty "
                                "entry, not \"1,2,3,\""},
        {{"--scale", "1", "--scale", "2,3"}, "tavimor: --scale: may be given once only"},
        {{"--quiet", "--quiet"}, "tavimor: --quiet: may be given once only"},
        // A flag takes no value, on or off.
        {{"--collision=false", "--format", "glb"}, "tavimor: --collision: takes no value, not \"false\""},
        {{"--format", "glb", "--pack=no"}, "tavimor: --pack: takes no value, not \"no\""},
        {{"--detail", "2", "--lod=", "--format", "glb"}, "tavimor: --lod: takes no value, not \"\""},
        {{"--collision=banana"}, "tavimor: --collision: takes no value, not \"banana\""},
        {{"--seed", "00000000000000000000004294967296"}, "tavimor: --seed: takes a whole number from 0 to 4294967295, "
                                                     "not \"00000000000000000000004294967296\""},
        {{"--format", "obj", "--format=glb"}, "tavimor: --format: may be given once only"},
        {{"a", "b", "--count", "2", "c"}, "tavimor: The following arguments were not expected: a b c (the options "
                                          "are --count --spike --style --seed --name --format --scale --detail "
                                          "--shading --textures --lod --pack --origin --collision --preview --preview-size -o "
                                          "--quiet --help --version)"},
        // With a one-digit rock number, the stems COM and LPT make device
        // names on Windows, in any case.
        {{"--name", "COM", "--count", "3"}, "tavimor: --name: takes a stem that makes no Windows device name (CON "
                                            "PRN AUX NUL COM0-9 LPT0-9), not \"COM\" (COM2)"},
        {{"--name", "lpt"}, "tavimor: --name: takes a stem that makes no Windows device name (CON PRN AUX NUL "
                            "COM0-9 LPT0-9), not \"lpt\" (lpt0)"},
        {{"--name", "con", "--pack", "--format", "glb"}, "tavimor: --name: takes a stem that makes no Windows "
                                                         "device name (CON PRN AUX NUL COM0-9 LPT0-9), not \"con\" "
                                                         "(con)"},
        {{"--detail", "7", "--format", "glb"}, "tavimor: --detail: takes a whole number from 0 to 6, not \"7\""},
        {{"--shading", "shiny"}, "tavimor: --shading: takes flat, smooth or auto, not \"shiny\""},
        {{"--style", "Pebble", "--format", "glb"}, "tavimor: --style: takes classic, boulder, pebble, slab, shard or "
                                                   "rubble, not \"Pebble\""},
        // A COB file keeps the classic rock, flat.
        {{"--style", "slab"}, "tavimor: --style: takes classic where --format has cob (a COB file holds classic rocks "
                              "only), not \"slab\""},
        {{"--format", "cob,glb", "--shading", "auto"}, "tavimor: --shading: takes flat where --format has cob (a COB "
                                                       "file has no normals), not \"auto\""},
        // What a COB file cannot hold, and what the other options need.
        {{"--detail", "1"}, "tavimor: --detail: takes 0 where --format has cob (a COB file holds detail 0 only), "
                            "not \"1\""},
        {{"--format", "obj,cob", "--shading", "smooth"}, "tavimor: --shading: takes flat where --format has cob (a COB "
                                                         "file has no normals), not \"smooth\""},
        {{"--lod", "--format", "glb"}, "tavimor: --lod: needs --detail 1 or more (the levels run from it down to 0)"},
        {{"--pack"}, "tavimor: --pack: goes with formats other than cob (a COB file holds one rock)"},
        {{"--pack", "--lod", "--detail", "2", "--format", "glb"}, "tavimor: --pack: goes without --lod (levels of "
                                                                  "detail are files of their own)"},
        {{"--pack", "--format", "stl", "--detail", "6", "--count", "7183"}, "tavimor: --count: takes at most 7182 "
                                                                             "with --pack at detail 6 (an STL file "
                                                                             "counts at most 4294967295 facets), not "
                                                                             "\"7183\""},
        {{"--lod", "--lod", "--detail", "1", "--format", "glb"}, "tavimor: --lod: may be given once only"},
        {{"--origin", "middle", "--format", "glb"}, "tavimor: --origin: takes centre or base, not \"middle\""},
        {{"--collision"}, "tavimor: --collision: goes with formats other than cob (a COB file holds no collision shape)"},
        // Maps: a power of two a reader's mipmaps take, in formats that hold them.
        {{"--textures", "64", "--format", "glb"}, "tavimor: --textures: takes a power of two from 128 to 4096, not \"64\""},
        {{"--textures", "1000", "--format", "glb"}, "tavimor: --textures: takes a power of two from 128 to 4096, not "
                                                    "\"1000\""},
        {{"--textures", "8192", "--format", "glb"}, "tavimor: --textures: takes a power of two from 128 to 4096, not "
                                                    "\"8192\""},
        {{"--textures", "256"}, "tavimor: --textures: goes with formats other than cob (a COB file holds no texture maps)"},
        {{"--textures", "256", "--format", "obj,stl"}, "tavimor: --textures: goes with formats other than stl (an STL "
                                                       "file holds no texture maps)"},
        {{"--textures", "256", "--format", "obj,glb"}, "tavimor: --shading: takes smooth or auto with --textures where "
                                                       "--format has glb (glTF decodes a normal map with the mesh's "
                                                       "normals and tangents), not \"flat\""},
        {{"--format", "obj,glb,obj"}, "tavimor: --format: takes formats from cob obj glb stl ply, each named once, "
                                      "not \"obj,glb,obj\""},
        {{"--preview-size", "100"}, "tavimor: --preview-size: goes with --preview (the size of a contact sheet's "
                                    "tiles)"},
        // Windows takes these for devices however the run writes them.
        {{"--preview", "NUL .png"}, "tavimor: --preview: takes a name that is no Windows device, not \"NUL .png\""},
        {{"--preview", "conout$.png"}, "tavimor: --preview: takes a name that is no Windows device, not "
                                       "\"conout$.png\""},
        // The whole sheet counts, the empty tiles of its last row too.
        {{"--count", "61", "--preview", "s.png", "--preview-size", "1024", "--format", "glb"},
         "tavimor: --count: takes at most 60 with --preview-size 1024 (a contact sheet holds 64 megapixels at most), "
         "not \"61\""},
    };
    for (const auto& c : cases) {
        const CommandLine command = parseCommandLine(c.args);
        EXPECT_EQ(command.action, CommandLine::Action::Fail) << c.args[0];
        EXPECT_EQ(command.text, c.line);
    }
}

TEST(Options, HelpAndVersionPrintWhateverElseIsGiven) {
    const struct {
        std::vector<std::string> args;
        bool help;
    } cases[] = {{{"--help", "--count", "0"}, true},  {{"--count", "0", "-h"}, true},
                 {{"--version", "--count", "0"}, false}, {{"--pack", "--version"}, false},
                 {{"--format", "obj,obj", "--help"}, true}, {{"stray", "--help"}, true},
                 {{"--pack=no", "--help"}, true}, {{"--version", "--quiet=yes"}, false}};
    for (const auto& c : cases) {
        const CommandLine command = parseCommandLine(c.args);
        EXPECT_EQ(command.action, CommandLine::Action::Print) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(command.text.starts_with("Random rocks"), c.help) << c.args[0] << " " << c.args[1];
    }
}

TEST(Options, HelpShowsEveryDefaultAndVersionTheBuildsVersion) {
    const CommandLine help = parseCommandLine({"--help"});
    ASSERT_EQ(help.action, CommandLine::Action::Print);
    for (const char* shown : {"1 to 1000000 (default 1)", "to 9 (default 5)", "(default ROCK)", "(default cob)",
                              "from 0.001 to 1000 (default 1)"}) {
        EXPECT_NE(help.text.find(shown), std::string::npos) << shown;
    }
    const CommandLine version = parseCommandLine({"--version"});
    EXPECT_EQ(version.action, CommandLine::Action::Print);
    EXPECT_EQ(version.text, "tavimor " TAVIMOR_VERSION "\n");
}

}  // namespace
}  // namespace tavimor
