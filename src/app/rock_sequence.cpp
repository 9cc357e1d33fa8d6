#include "app/rock_sequence.h"

#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include "picture/png.h"
#include "system/threads.h"

namespace tavimor {

// Rocks made out of turn: each thread takes the next rock no one has taken
// yet and makes it, from the generator as it stands for that rock; the
// program's thread takes them back in order, and makes one itself while
// the next in order is not ready. At most ahead rocks wait made: two, or
// for rocks of detail 5 and more or with baked maps (whose finest surface
// is made too), tens of megabytes each with their files, one, so that a
// run's memory stays within 100 MiB.
struct RockSequence::Ahead {
    explicit Ahead(bool large) : ahead(large ? 1 : 2) {}
    const int ahead;
    std::mutex lock;
    std::condition_variable changed;
    int nextToMake = 0;
    int taken = 0;
    bool stopping = false;
    std::map<int, MadeRock> made;
    // Rocks whose memory is used again.
    std::vector<MadeRock> spare;
    std::thread thread;

    bool mayMakeMore(int count) const { return nextToMake < count && nextToMake - taken < ahead + 1; }
};

namespace {

// Two parts at once, the second on a thread beside. What
// either part throws (out of memory) is thrown here once both are done.
void bothAtOnce(const Part& first, const Part& second) {
    std::exception_ptr besideFailed;
    std::thread beside = startBesideTheProgram([&] {
        try {
            second();
        } catch (...) {
            besideFailed = std::current_exception();
        }
    });
    try {
        first();
    } catch (...) {
        beside.join();
        throw;
    }
    beside.join();
    if (besideFailed) std::rethrow_exception(besideFailed);
}

// A rock's maps made PNG files, and its material naming them: the
// style's, with the maps. The normal map, the slowest to compress, is
// encoded on a thread beside while this one encodes the other two.
void encodeMaps(MadeRock& rock, const Material& style) {
    const BakedMaps& maps = rock.textures.maps;
    const std::array<const std::vector<std::uint8_t>*, kImageRoles> pixels = {&maps.baseColour, &maps.normal, &maps.orm};
    const auto encode = [&](std::size_t role) {
        std::optional<std::string> png = encodePng(maps.pixels, maps.pixels, *pixels[role]);
        rock.images[role] = png ? std::move(*png) : std::string();
    };
    constexpr auto kNormal = static_cast<std::size_t>(ImageRole::Normal);
    bothAtOnce(
        [&] {
            for (std::size_t role = 0; role < kImageRoles; ++role) {
                if (role != kNormal) encode(role);
            }
        },
        [&] {
            try {
                encode(kNormal);
            } catch (const std::bad_alloc&) {
                // An empty image: the rock's files are not made, and the
                // run says so.
                rock.images[kNormal].clear();
            }
        });
    rock.material = style;
    for (std::size_t role = 0; role < kImageRoles; ++role) rock.material.images[role] = rock.images[role];
}

RockRecipe recipeOf(const RunSettings& settings, const SequenceNeeds& needs) {
    return {.seed = settings.seed.value(),
            .count = settings.count,
            .style = settings.style,
            .spike = settings.spike,
            .scale = settings.scale,
            .origin = settings.origin,
            .detail = settings.detail,
            .levels = needs.levels,
            .shading = needs.shading,
            .hull = needs.hull,
            .textures = settings.textures};
}

}  // namespace

RockSequence::RockSequence(const RunSettings& settings, const DetailLevels& levels, SequenceNeeds needs)
    : settings_(settings), needs_(std::move(needs)), maker_(recipeOf(settings, needs_), levels) {
    // A rock too small to be worth a second thread is made in turn.
    if ((settings.detail < 2 && settings.textures == 0) || settings.count < 2) return;
    ahead_ = std::make_unique<Ahead>(settings.detail >= 5 || settings.textures > 0);
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
    // Rocks made out of turn keep both threads busy already; a rock made
    // alone bakes on both.
    maker_.make(index, rock, ahead_ ? BothParts(inTurn) : BothParts(bothAtOnce));
    if (settings_.textures > 0) encodeMaps(rock, settings_.style.kind().material);
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
