#include "system/file_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace tavimor {
namespace {

TEST(FileNames, JoiningNeverDoublesASeparator) {
    const struct {
        const char* directory;
        const char* joined;
    } cases[] = {{"", "ROCK0.COB"}, {"out", "out/ROCK0.COB"}, {"out/", "out/ROCK0.COB"}, {"/", "/ROCK0.COB"}};
    for (const auto& c : cases) EXPECT_EQ(joinPath(c.directory, "ROCK0.COB"), c.joined) << c.directory;
}

TEST(FileNames, SplitIntoDirectoryAndName) {
    const struct {
        const char* path;
        const char* directory;
        const char* name;
    } cases[] = {{"sheet.png", ".", "sheet.png"},
                 {"/sheet.png", "/", "sheet.png"},
                 {"out/sheet.png", "out", "sheet.png"},
                 {"/a/b/", "/a/b", ""},
                 // Here a backslash is part of a name; only Windows
                 // separates with it.
                 {"a\\b.png", ".", "a\\b.png"}};
    for (const auto& c : cases) {
        EXPECT_EQ(directoryOf(c.path), c.directory) << c.path;
        EXPECT_EQ(fileNameOf(c.path), c.name) << c.path;
    }
    EXPECT_TRUE(hasExtension("Sheet.PNG", ".png"));
    EXPECT_FALSE(hasExtension(".png", ".png")) << "an extension alone is no name";
    EXPECT_FALSE(hasExtension("sheet.png.txt", ".png"));
}

TEST(FileNames, WindowsDeviceNamesInAnyCaseWithAnyExtension) {
    for (const char* device : {"CON", "prn", "Aux", "NUL.obj", "COM0.COB", "com9.glb", "LPT1", "lpt5.tar.gz",
                               "NUL .png", "CON  .png", "conin$.png", "CONOUT$", "COM\xC2\xB9.png", "lpt\xC2\xB3"}) {
        EXPECT_TRUE(isWindowsDeviceName(device)) << device;
    }
    for (const char* name : {"CON0.COB", "COM.COB", "COM10.COB", "COMA.COB", "LPT", "XCON.COB", "NULL", "",
                             " NUL.png", "CONIN.png", "COM\xC2\xB4.png", "COM\xC2"}) {
        EXPECT_FALSE(isWindowsDeviceName(name)) << name;
    }
}

TEST(FileNames, TemporaryNamesFitTheDirectoryAndNameTheirFileAndProcess) {
    const std::string longName(250, 'a');
    const std::string accented = std::string(240, 'b') + "\xC3\xA9\xC3\xA9\xC3\xA9";  // three two-byte letters
    const struct {
        std::string name;
        unsigned long process;
        std::size_t longest;
        std::string expected;  // "" where only the length is known
    } cases[] = {
        {"ROCK0.COB", 4242, 255, ".ROCK0.COB.4242.tmp"},
        // One character short: the start of the name and a hash instead.
        {std::string(242, 'x'), 77, 255, ""},
        {longName, 123456, 255, ""},
        {accented, 99, 255, ""},
    };
    for (const auto& c : cases) {
        const std::string temporary = temporaryNameFor(c.name, c.process, c.longest);
        SCOPED_TRACE(temporary);
        if (!c.expected.empty()) {
            EXPECT_EQ(temporary, c.expected);
        }
        EXPECT_LE(temporary.size(), c.longest);
        const std::size_t start = std::min<std::size_t>(20, c.name.size());
        EXPECT_EQ(temporary.substr(1, start), c.name.substr(0, start));
        EXPECT_EQ(temporaryOwner(temporary, c.name), c.process);
        EXPECT_EQ(temporaryProcess(temporary), c.process);
        // Never the temporary of another name, and no letter cut in two.
        EXPECT_FALSE(temporaryOwner(temporary, c.name + "x"));
        EXPECT_FALSE(temporaryOwner(temporary, std::string("c").append(c.name)));
        for (std::size_t i = 0; i + 1 < temporary.size(); ++i) {
            if (static_cast<unsigned char>(temporary[i]) >= 0xC0) {
                EXPECT_EQ(static_cast<unsigned char>(temporary[i + 1]) & 0xC0, 0x80);
            }
        }
    }
    for (const char* other : {"ROCK0.COB", ".ROCK0.COB", ".ROCK0.COB.tmp", ".ROCK0.COB.12a.tmp", "..12.tmp"}) {
        EXPECT_FALSE(temporaryProcess(other)) << other;
    }
}

}  // namespace
}  // namespace tavimor
