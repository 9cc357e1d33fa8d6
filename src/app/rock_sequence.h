#pragma once

// The rocks of a run, in the order they are written: the one place where
// rocks are made. A rock of detail 2 or more is made one ahead, on a thread
// of its own, while the one before it is written.

#include <memory>
#include <vector>

#include "app/run_settings.h"
#include "geometry/detailed_rock.h"
#include "geometry/extent.h"

namespace tavimor {

struct MadeRock {
    // Rock n: count - 1 first, 0 last.
    int number = 0;
    // At the finest level; every coarser level's positions come first.
    std::vector<Position> positions = {};
    // The normals of each level asked for: [k] for detail - k (the finest
    // first); none unless asked for.
    std::vector<std::vector<Position>> normals = {};
    // The extent of each level asked for, [k] as for normals.
    std::vector<Extent> extents = {};
};

// What the user of a sequence needs of each rock.
struct SequenceNeeds {
    // Levels from the finest down: 1, or detail + 1 for levels of detail.
    int levels = 1;
    bool normals = false;
};

class RockSequence {
public:
    // The rocks settings describe (its seed set), at the finest of levels.
    RockSequence(const RunSettings& settings, const DetailLevels& levels, SequenceNeeds needs);
    ~RockSequence();
    RockSequence(const RockSequence&) = delete;
    RockSequence& operator=(const RockSequence&) = delete;

    // The next rock. It stays valid until the next call.
    const MadeRock& next();

private:
    struct Ahead;
    void make(MadeRock& rock);

    const RunSettings& settings_;
    const DetailLevels& levels_;
    SequenceNeeds needs_;
    Lcg generator_;
    int nextNumber_;
    MadeRock current_;
    // The thread that makes rocks ahead and what it shares; none where a
    // rock is made in turn.
    std::unique_ptr<Ahead> ahead_;
};

}  // namespace tavimor
