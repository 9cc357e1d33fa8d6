#include "app/rock_maker.h"

#if defined(__linux__)
#define TAVIMOR_MAKES_AHEAD 1
#include <thread>

#include "system/signals.h"
#endif

namespace tavimor {

#if defined(TAVIMOR_MAKES_AHEAD)
// One slot, filled by the maker's thread and taken by the writer. The
// rocks come out in order, each made from the one generator: the same rocks
// as made one after the other.
struct RockMaker::Ahead {
    std::mutex lock;
    std::condition_variable changed;
    MadeRock slot;
    bool full = false;
    bool stopping = false;
    std::thread thread;
};
#else
struct RockMaker::Ahead {};
#endif

RockMaker::RockMaker(const RunPlan& plan, const DetailLevels& levels, int levelsWritten)
    : plan_(plan), levels_(levels), levelsWritten_(levelsWritten), generator_{plan.seed}, nextNumber_(plan.count - 1) {
#if defined(TAVIMOR_MAKES_AHEAD)
    // A rock too small to be worth a second thread is made in turn.
    if (plan.detail < 2 || plan.count < 2) return;
    ahead_ = std::make_unique<Ahead>();
    // Started with the handled signals held back, which the thread keeps:
    // the handlers run on the writer's thread, which owns the terminal and
    // the file being written.
    SignalBlock block;
    ahead_->thread = std::thread([this] {
        Ahead& a = *ahead_;
        MadeRock rock;
        for (int left = plan_.count; left > 0; --left) {
            make(rock);
            std::unique_lock<std::mutex> hold(a.lock);
            a.changed.wait(hold, [&] { return !a.full || a.stopping; });
            if (a.stopping) return;
            std::swap(a.slot, rock);
            a.full = true;
            a.changed.notify_all();
        }
    });
#endif
}

RockMaker::~RockMaker() {
#if defined(TAVIMOR_MAKES_AHEAD)
    if (!ahead_) return;
    {
        std::lock_guard<std::mutex> hold(ahead_->lock);
        ahead_->stopping = true;
    }
    ahead_->changed.notify_all();
    ahead_->thread.join();
#endif
}

void RockMaker::make(MadeRock& rock) {
    rock.number = nextNumber_--;
    makeDetailedRock(generator_, plan_.spike, plan_.scale, levels_, RockIdentity{plan_.seed, rock.number}, rock.positions);
    rock.normals.resize(plan_.smooth ? static_cast<std::size_t>(levelsWritten_) : 0);
    for (std::size_t k = 0; k < rock.normals.size(); ++k) {
        smoothNormals(levels_.levels[static_cast<std::size_t>(plan_.detail) - k], rock.positions, rock.normals[k]);
    }
    rock.extents.resize(static_cast<std::size_t>(levelsWritten_));
    for (std::size_t k = 0; k < rock.extents.size(); ++k) {
        const auto& level = levels_.levels[static_cast<std::size_t>(plan_.detail) - k];
        rock.extents[k] = extentOf(std::span(rock.positions).first(static_cast<std::size_t>(level.positionCount)));
    }
}

const MadeRock& RockMaker::next() {
#if defined(TAVIMOR_MAKES_AHEAD)
    if (ahead_) {
        Ahead& a = *ahead_;
        std::unique_lock<std::mutex> hold(a.lock);
        a.changed.wait(hold, [&] { return a.full; });
        std::swap(current_, a.slot);
        a.full = false;
        a.changed.notify_all();
        return current_;
    }
#endif
    make(current_);
    return current_;
}

}  // namespace tavimor
