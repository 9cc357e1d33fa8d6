#include "app/rock_sequence.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "geometry/normals.h"
#include "system/threads.h"

namespace tavimor {

// One slot, filled by the maker's thread and taken by the writer. The
// rocks come out in order, each made from the one generator: the same rocks
// as made one after the other.
struct RockSequence::Ahead {
    std::mutex lock;
    std::condition_variable changed;
    MadeRock slot;
    bool full = false;
    bool stopping = false;
    std::thread thread;
};

RockSequence::RockSequence(const RunSettings& settings, const DetailLevels& levels, SequenceNeeds needs)
    : settings_(settings),
      levels_(levels),
      needs_(needs),
      generator_{settings.seed.value()},
      nextNumber_(settings.count - 1) {
    // A rock too small to be worth a second thread is made in turn.
    if (settings.detail < 2 || settings.count < 2) return;
    ahead_ = std::make_unique<Ahead>();
    ahead_->thread = startBesideTheProgram([this] {
        Ahead& a = *ahead_;
        MadeRock rock;
        for (int left = settings_.count; left > 0; --left) {
            make(rock);
            std::unique_lock<std::mutex> hold(a.lock);
            a.changed.wait(hold, [&] { return !a.full || a.stopping; });
            if (a.stopping) return;
            std::swap(a.slot, rock);
            a.full = true;
            a.changed.notify_all();
        }
    });
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

void RockSequence::make(MadeRock& rock) {
    rock.number = nextNumber_--;
    makeDetailedRock(generator_, settings_.spike, settings_.scale, levels_,
                     RockIdentity{settings_.seed.value(), rock.number}, rock.positions);
    const auto levels = static_cast<std::size_t>(needs_.levels);
    const auto finest = static_cast<std::size_t>(settings_.detail);
    rock.normals.resize(needs_.normals ? levels : 0);
    for (std::size_t k = 0; k < rock.normals.size(); ++k) {
        smoothNormals(levels_.levels[finest - k], rock.positions, rock.normals[k]);
    }
    rock.extents.resize(levels);
    for (std::size_t k = 0; k < levels; ++k) {
        const auto count = static_cast<std::size_t>(levels_.levels[finest - k].positionCount);
        rock.extents[k] = extentOf(std::span(rock.positions).first(count));
    }
}

const MadeRock& RockSequence::next() {
    if (ahead_) {
        Ahead& a = *ahead_;
        std::unique_lock<std::mutex> hold(a.lock);
        a.changed.wait(hold, [&] { return a.full; });
        std::swap(current_, a.slot);
        a.full = false;
        a.changed.notify_all();
        return current_;
    }
    make(current_);
    return current_;
}

}  // namespace tavimor
