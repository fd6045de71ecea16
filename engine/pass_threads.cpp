#include "engine/pass_threads.h"

#include "os/os_seam.h"

#include <synchapi.h>

namespace {

// The value of a helper's counter that tells its thread to stop.
constexpr uint64_t kQuit = ~uint64_t{0};

// Returns once `counter` holds something else than `seen`, or at once if it
// already does. The system may wake a waiter for nothing; the callers
// check their condition again.
void WaitForChange(const std::atomic<uint64_t>& counter, uint64_t seen)
{
    if (counter.load() != seen) return;
    WaitOnAddress(const_cast<std::atomic<uint64_t>*>(&counter), &seen, sizeof seen, INFINITE);
}

// Stores `value` in `counter` and wakes the thread waiting for it. Returns nothing.
void Publish(std::atomic<uint64_t>& counter, uint64_t value)
{
    counter.store(value);
    WakeByAddressAll(&counter);
}

}  // namespace

RandomAhead::RandomAhead(EraseRng& rng, int64_t length)
    : rng_(rng), length_(length), ring_(size_t{kAheadStretch} * kAheadStretches)
{
    os.StartThread([this] { Make(); }, &thread_);
}

// The thread only stops between two stretches, so the engine is then at the
// start of the stretch it has not made; the stretch holding the next byte is
// either that one or one still in the ring, whose engine was kept.
RandomAhead::~RandomAhead()
{
    if (!Started()) return;
    Publish(released_, kQuit);
    thread_.join();
    const uint64_t stretch = handedOut_ / kAheadStretch;
    if (stretch < made_.load()) rng_ = before_[stretch % kAheadStretches];
    rng_.discard(handedOut_ - stretch * kAheadStretch);
}

void RandomAhead::Make()
{
    const ByteDistribution dist;
    for (uint64_t stretch = 0; static_cast<int64_t>(stretch * kAheadStretch) < length_; ++stretch) {
        for (uint64_t released = released_.load(); released != kQuit && stretch - released >= kAheadStretches;
             released = released_.load()) {
            WaitForChange(released_, released);
        }
        if (released_.load() == kQuit) return;
        const int64_t left = length_ - static_cast<int64_t>(stretch * kAheadStretch);
        before_[stretch % kAheadStretches] = rng_;
        dist.Fill(rng_, ring_.data() + stretch % kAheadStretches * kAheadStretch,
                  static_cast<size_t>(left < kAheadStretch ? left : kAheadStretch));
        Publish(made_, stretch + 1);
    }
}

const uint8_t* RandomAhead::Next(uint32_t count)
{
    const uint64_t stretch = handedOut_ / kAheadStretch;
    if (released_.load() < stretch) Publish(released_, stretch);
    for (uint64_t made = made_.load(); made <= stretch; made = made_.load()) WaitForChange(made_, made);
    const uint8_t* bytes = ring_.data() + stretch % kAheadStretches * kAheadStretch + handedOut_ % kAheadStretch;
    handedOut_ += count;
    return bytes;
}

PassBytes::PassBytes(const PassSpec& pass, int64_t length, EraseRng& rng, const ByteDistribution& dist,
                     uint8_t* buffer)
    : pass_(pass), rng_(rng), dist_(dist), buffer_(buffer)
{
    if (pass.kind != PassKind::Random || length <= kAheadMinimum) return;
    ahead_.emplace(rng, length);
    if (!ahead_->Started()) ahead_.reset();
}

const uint8_t* PassBytes::Next(uint32_t count)
{
    if (ahead_) return ahead_->Next(count);
    FillPassBuffer(buffer_, count, pass_, cursor_, rng_, dist_);
    return buffer_;
}

FlushBehind::FlushBehind(HANDLE file) : file_(file)
{
    os.StartThread([this] { Run(); }, &thread_);
}

bool FlushBehind::Finish()
{
    if (thread_.joinable()) {
        Publish(asked_, kQuit);
        thread_.join();
    }
    return !failed_.load();
}

void FlushBehind::Ask()
{
    if (thread_.joinable()) Publish(asked_, asked_.load() + 1);
}

void FlushBehind::Run()
{
    for (uint64_t served = 0, asked = asked_.load(); asked != kQuit; asked = asked_.load()) {
        if (asked == served) {
            WaitForChange(asked_, asked);
            continue;
        }
        if (!os.FlushFileBuffers(file_)) failed_.store(true);
        served = asked;
    }
}
