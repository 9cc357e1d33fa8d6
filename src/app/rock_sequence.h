#pragma once

// The rocks of a run, in the order they are written: the one place where
// rocks are made. Rocks of detail 2 or more are made on two threads, a
// thread of their own and the program's own while it has nothing to write,
// a few rocks ahead of the one being written.

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_settings.h"
#include "formats/format.h"
#include "geometry/rock_recipe.h"

namespace tavimor {

// A rock as made (geometry's RockGeometry: [k] of each list for detail -
// k), and what the run made of it.
struct MadeRock : RockGeometry {
    // What the sequence's user made of the rock right after it (its files:
    // a list for each level in each format), on the same thread. The memory
    // goes on to the next rock.
    std::vector<std::vector<FormatFile>> files = {};
    // A file that could not be made, and why; empty where every one was.
    std::string notMade = {};
    std::string_view notMadeWhy = {};
    // With textures: its maps as PNG files, by role, and its material,
    // which names them.
    std::array<std::string, kImageRoles> images = {};
    Material material = {};
};

// What the user of a sequence needs of each rock.
struct SequenceNeeds {
    // Levels from the finest down: 1, or detail + 1 for levels of detail.
    int levels = 1;
    // Smooth: the normals of each level; auto: split along sharp edges too.
    Shading shading = Shading::Flat;
    bool hull = false;
    // Work on each rock made ahead, once it is made, done where it is made:
    // on either thread, so it must touch nothing but the rock. A rock made
    // in turn is not finished here: its user works on it as it pleases.
    std::function<void(MadeRock&)> finish = {};
};

class RockSequence {
public:
    // The rocks settings describe (its seed set), at the finest of levels.
    RockSequence(const RunSettings& settings, const DetailLevels& levels, SequenceNeeds needs);
    ~RockSequence();
    RockSequence(const RockSequence&) = delete;
    RockSequence& operator=(const RockSequence&) = delete;

    // The next rock, the caller's until the next call.
    MadeRock& next();

    // Whether rocks are made ahead, on a second thread; if not, each is
    // made in turn when it is asked for.
    bool makesAhead() const { return ahead_ != nullptr; }

private:
    struct Ahead;
    // Makes rock index of the writing order (number count - 1 - index).
    void make(int index, MadeRock& rock) const;
    // Makes the next rock no thread has taken, in a spare rock's memory,
    // with the lock held by hold let go meanwhile, and hands it over.
    void makeNextUntaken(std::unique_lock<std::mutex>& hold) const;

    const RunSettings& settings_;
    SequenceNeeds needs_;
    RockMaker maker_;
    int nextIndex_ = 0;
    MadeRock current_;
    // The thread that makes rocks ahead and what it shares; none where a
    // rock is made in turn.
    std::unique_ptr<Ahead> ahead_;
};

}  // namespace tavimor
