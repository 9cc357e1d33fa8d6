#pragma once

// The rocks of a run, in writing order, with their smooth normals: made one
// rock ahead on a thread of their own where the platform has threads, so
// that the next rock is made while this one is written.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "app/run_plan.h"
#include "geometry/detail.h"

namespace tavimor {

struct MadeRock {
    int number = 0;
    std::vector<Position> positions = {};
    // For smooth runs, the normals of each level written: [k] for detail
    // detail - k (the finest first).
    std::vector<std::vector<Position>> normals = {};
    // The extent of each level written, [k] as for normals.
    std::vector<Extent> extents = {};
};

class RockMaker {
public:
    // levels written: 1, or detail + 1 for levels of detail.
    RockMaker(const RunPlan& plan, const DetailLevels& levels, int levelsWritten);
    ~RockMaker();
    RockMaker(const RockMaker&) = delete;
    RockMaker& operator=(const RockMaker&) = delete;

    // The next rock (count - 1 first, down to 0). It stays valid until the
    // next call.
    const MadeRock& next();

private:
    struct Ahead;
    void make(MadeRock& rock);

    const RunPlan& plan_;
    const DetailLevels& levels_;
    int levelsWritten_;
    Lcg generator_;
    int nextNumber_;
    MadeRock current_;
    // The thread and what it shares; none where the platform has no threads.
    std::unique_ptr<Ahead> ahead_;
};

}  // namespace tavimor
