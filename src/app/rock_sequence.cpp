#include "app/rock_sequence.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "geometry/normals.h"
#include "system/threads.h"

namespace tavimor {

// Rocks made out of turn: each thread takes the next rock no one has taken
// yet and makes it, from the generator as it stands for that rock; the
// program's thread takes them back in order, and makes one itself while
// the next in order is not ready. At most kAhead rocks wait made.
struct RockSequence::Ahead {
    static constexpr int kAhead = 2;
    std::mutex lock;
    std::condition_variable changed;
    int nextToMake = 0;
    int taken = 0;
    bool stopping = false;
    std::map<int, MadeRock> made;
    // Rocks whose memory is used again.
    std::vector<MadeRock> spare;
    std::thread thread;

    bool mayMakeMore(int count) const { return nextToMake < count && nextToMake - taken < kAhead + 1; }
};

RockSequence::RockSequence(const RunSettings& settings, const DetailLevels& levels, SequenceNeeds needs)
    : settings_(settings), levels_(levels), needs_(std::move(needs)) {
    if (needs_.shading == Shading::Auto) {
        for (int k = 0; k < needs_.levels; ++k) {
            edges_.push_back(edgesOf(levels.levels[static_cast<std::size_t>(settings.detail - k)]));
        }
    }
    // A rock too small to be worth a second thread is made in turn.
    if (settings.detail < 2 || settings.count < 2) return;
    ahead_ = std::make_unique<Ahead>();
    ahead_->thread = startBesideTheProgram([this] {
        Ahead& a = *ahead_;
        std::unique_lock<std::mutex> hold(a.lock);
        for (;;) {
            a.changed.wait(hold, [&] { return a.stopping || a.mayMakeMore(settings_.count); });
            if (a.stopping) return;
            makeNextUntaken(hold);
        }
    });
}

void RockSequence::makeNextUntaken(std::unique_lock<std::mutex>& hold) const {
    Ahead& a = *ahead_;
    const int index = a.nextToMake++;
    MadeRock rock;
    if (!a.spare.empty()) {
        rock = std::move(a.spare.back());
        a.spare.pop_back();
    }
    hold.unlock();
    make(index, rock);
    hold.lock();
    a.made.emplace(index, std::move(rock));
    a.changed.notify_all();
}

RockSequence::~RockSequence() {
    if (!ahead_) return;
    {
        std::lock_guard<std::mutex> hold(ahead_->lock);
        ahead_->stopping = true;
    }
    ahead_->changed.notify_all();
    ahead_->thread.join();
}

void RockSequence::make(int index, MadeRock& rock) const {
    // Rock index in writing order is rock number count - 1 - index, and
    // starts kVertexCount draws a rock into the run's sequence.
    rock.number = settings_.count - 1 - index;
    Lcg generator = skipped(Lcg{settings_.seed.value()}, static_cast<std::uint64_t>(index) * kVertexCount);
    const RockIdentity identity{settings_.seed.value(), rock.number};
    if (settings_.style == Style::Classic) {
        makeDetailedRock(generator, settings_.spike, settings_.scale, levels_, identity, rock.positions);
    } else {
        makeStyledRock(generator, settings_.style, settings_.spike, settings_.scale, levels_, identity, rock.positions,
                       rock.lumps);
    }
    const auto levels = static_cast<std::size_t>(needs_.levels);
    const auto finest = static_cast<std::size_t>(settings_.detail);
    rock.normals.resize(needs_.shading != Shading::Flat ? levels : 0);
    for (std::size_t k = 0; k < rock.normals.size(); ++k) {
        smoothNormals(levels_.levels[finest - k], rock.positions, rock.normals[k]);
    }
    rock.split.resize(edges_.size());
    for (std::size_t k = 0; k < edges_.size(); ++k) {
        splitNormals(levels_.levels[finest - k], edges_[k], rock.positions, rock.normals[k], rock.split[k]);
    }
    if (settings_.origin == Origin::Base) {
        // Every level moved as the finest: they stay where they were made,
        // one inside the other. 0.0 - low keeps a zero positive.
        const Extent extent = extentOf(rock.positions);
        const Position shift = {0.0 - (extent.low.x + extent.high.x) / 2, 0.0 - (extent.low.y + extent.high.y) / 2,
                                0.0 - extent.low.z};
        for (Position& p : rock.positions) p = p + shift;
    }
    rock.extents.resize(levels);
    for (std::size_t k = 0; k < levels; ++k) {
        const auto count = static_cast<std::size_t>(levels_.levels[finest - k].positionCount);
        rock.extents[k] = extentOf(std::span(rock.positions).first(count));
    }
    if (needs_.hull) {
        // Its directions from the rock at detail 0, pushed out to every
        // position of the finest level.
        rock.hull = collisionHull(rock.positions, std::span(rock.positions).first(kVertexCount));
    }
    if (ahead_ && needs_.finish) needs_.finish(rock);
}

MadeRock& RockSequence::next() {
    const int index = nextIndex_++;
    if (!ahead_) {
        make(index, current_);
        return current_;
    }
    Ahead& a = *ahead_;
    std::unique_lock<std::mutex> hold(a.lock);
    // The rock written last is done with: its memory goes to the next one.
    if (index > 0) a.spare.push_back(std::move(current_));
    a.taken = index;
    a.changed.notify_all();
    for (;;) {
        if (const auto found = a.made.find(index); found != a.made.end()) {
            current_ = std::move(found->second);
            a.made.erase(found);
            return current_;
        }
        if (!a.mayMakeMore(settings_.count)) {
            a.changed.wait(hold);
            continue;
        }
        // While the rock in order is being made elsewhere, this thread makes
        // the next one nobody has taken (that one itself, if nobody has).
        makeNextUntaken(hold);
    }
}

}  // namespace tavimor
