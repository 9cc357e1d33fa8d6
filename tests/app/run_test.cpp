#include "app/run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <cstring>
#include <vector>

#include "app/run_names.h"
#include "formats/cob_file.h"
#include "formats/obj_file.h"
#include "formats/stl_file.h"
#include "system/exit_status.h"

namespace tavimor {
namespace {

// Every report, in order, as "event path".
class RecordingReport final : public RunReport {
public:
    void writing(const std::string& path) override { events.push_back("writing " + path); }
    std::string doneLine(const std::string& path) override {
        events.push_back("named " + path);
        return {};
    }
    void failed(const std::string& path, SaveResult) override { events.push_back("failed " + path); }
    void notMade(const std::string& path, std::string_view) override { events.push_back("not made " + path); }
    void progress(long long done, long long total) override {
        events.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
    }
    std::vector<std::string> events;
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavimor-plan-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string read(const std::string& name) const {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string dir_;
};

TEST_F(RunTest, NamesCountDownPaddedAndEveryFormatFollowsItsRock) {
    RunSettings plan{.count = 11, .spike = 3, .seed = 8, .stem = "R", .formats = {&stlFormat(), &objFormat()},
                     .directory = dir_};
    EXPECT_EQ(rockName(plan, 10), "R10");
    EXPECT_EQ(rockName(plan, 0), "R00");
    RecordingReport report;
    ASSERT_EQ(writeRun(plan, report), kExitSuccess);
    ASSERT_EQ(report.events.size(), 11u * 7u);
    const std::string first = dir_ + "/R10.";
    EXPECT_EQ(report.events[0], "writing " + first + "stl");
    EXPECT_EQ(report.events[1], "named " + first + "stl");
    EXPECT_EQ(report.events[2], "writing " + first + "obj");
    EXPECT_EQ(report.events[4], "writing " + first + "mtl");
    EXPECT_EQ(report.events[6], "progress 1/11");
    EXPECT_EQ(report.events.back(), "progress 11/11");
    // One generator for the run: rock 9 continues where rock 10 stopped.
    plan.formats = {&cobFormat()};
    plan.count = 2;
    RecordingReport again;
    ASSERT_EQ(writeRun(plan, again), kExitSuccess);
    Lcg generator{8};
    const Rock one = makeRock(generator, 3);
    const Rock zero = makeRock(generator, 3);
    EXPECT_EQ(read("R1.COB"), cobFile(one, 1));
    EXPECT_EQ(read("R0.COB"), cobFile(zero, 0));
}

TEST_F(RunTest, AFileThatCannotBeWrittenEndsTheRunThere) {
    ASSERT_EQ(mkdir((dir_ + "/R1.COB").c_str(), 0755), 0);
    RunSettings plan{.count = 3, .seed = 1, .stem = "R", .directory = dir_};
    RecordingReport report;
    EXPECT_EQ(writeRun(plan, report), kExitFailure);
    EXPECT_EQ(report.events, (std::vector<std::string>{"writing " + dir_ + "/R2.COB", "named " + dir_ + "/R2.COB",
                                                       "progress 1/3", "writing " + dir_ + "/R1.COB",
                                                       "named " + dir_ + "/R1.COB", "failed " + dir_ + "/R1.COB"}));
    EXPECT_EQ(access((dir_ + "/R0.COB").c_str(), F_OK), -1);
}

}  // namespace
}  // namespace tavimor

#include "app/rock_sequence.h"
#include "geometry/normals.h"

namespace tavimor {
namespace {

TEST(RockSequence, MakesTheRocksOfTheRunInOrderAheadOrNot) {
    // Detail 2 and more is made one rock ahead on a thread of its own;
    // detail 1 in turn. Either way the rocks are those made one by one.
    for (const int detail : {1, 3}) {
        const RunSettings plan{.count = 5, .spike = 8, .seed = 4, .scale = {1, 2, 3}, .detail = detail, .shading = Shading::Smooth,
                               .lod = true};
        const DetailLevels levels = buildDetailLevels(detail);
        RockSequence maker(plan, levels, {detail + 1, Shading::Smooth});
        Lcg generator{4};
        for (int n = 4; n >= 0; --n) {
            const MadeRock& rock = maker.next();
            EXPECT_EQ(rock.number, n);
            const std::vector<Position> positions =
                makeDetailedRock(generator, 8, {1, 2, 3}, levels, RockIdentity{4, n});
            ASSERT_EQ(rock.positions.size(), positions.size());
            EXPECT_EQ(std::memcmp(rock.positions.data(), positions.data(), positions.size() * sizeof(Position)), 0);
            ASSERT_EQ(rock.normals.size(), static_cast<std::size_t>(detail + 1));
            std::vector<Position> normals;
            smoothNormals(levels.levels[0], positions, normals);
            EXPECT_EQ(std::memcmp(rock.normals.back().data(), normals.data(), normals.size() * sizeof(Position)), 0);
        }
    }
}

}  // namespace
}  // namespace tavimor
