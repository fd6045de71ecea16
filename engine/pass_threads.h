// The helpers of a long pass, each on a thread of its own: one makes the
// random bytes ahead of the writes, one flushes the bytes already written
// while the later ones are being written.
#pragma once

#include "engine/pass.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

// Bytes the second thread hands over at once, and how many such stretches it
// may have made ahead of the writes: a fixed ring, so memory stays flat
// whatever the length of the pass.
constexpr uint32_t kAheadStretch = 1024 * 1024;
constexpr int kAheadStretches = 4;

// A pass no longer than the ring gains too little to pay for a thread.
constexpr int64_t kAheadMinimum = int64_t{kAheadStretch} * kAheadStretches;

// A non-copyable owner of the second thread and its ring. The bytes handed
// out are exactly those that filling `length` bytes from `rng` in order
// would give, and when the holder goes, `rng` stands where it would stand
// had the pass drawn just the bytes handed out: all of them after a whole
// pass, fewer after a pass that ended early.
class RandomAhead {
public:
    // Starts the thread through the OS seam; Started() tells whether it ran.
    RandomAhead(EraseRng& rng, int64_t length);
    // Stops the thread, waits for it, and sets `rng` as described above.
    ~RandomAhead();
    RandomAhead(const RandomAhead&) = delete;
    RandomAhead& operator=(const RandomAhead&) = delete;

    // Returns true when the thread runs; false when the system would not
    // start one, and the pass is to fill its bytes itself.
    bool Started() const { return thread_.joinable(); }
    // Returns the next `count` bytes, waiting until they are made. `count`
    // is at most 64 KiB and the stretches are whole 64 KiB chunks, so no
    // request crosses from one stretch into the next. Every earlier request
    // must be done with: its stretch may be refilled now.
    const uint8_t* Next(uint32_t count);

private:
    // The second thread's body: fills stretch after stretch until the
    // length is made or the holder goes. Returns nothing.
    void Make();

    EraseRng& rng_;
    const int64_t length_;
    std::vector<uint8_t> ring_;
    EraseRng before_[kAheadStretches];    // the engine before each stretch in the ring was made
    std::atomic<uint64_t> made_{0};       // stretches made
    std::atomic<uint64_t> released_{0};   // stretches written and free again; kQuit: stop making
    uint64_t handedOut_ = 0;              // bytes handed out
    std::thread thread_;
};

// The bytes of one pass, chunk after chunk from its start: made ahead on a
// second thread for a random pass longer than the ring, else filled into the
// caller's buffer as each is asked for. Either way they are the bytes
// FillPassBuffer gives, and `rng` ends where the chunks asked for leave it.
class PassBytes {
public:
    // `buffer` holds at least one 64 KiB chunk; it, `pass` and `dist`
    // outlive the holder.
    PassBytes(const PassSpec& pass, int64_t length, EraseRng& rng, const ByteDistribution& dist, uint8_t* buffer);

    // Returns the next `count` bytes (at most one chunk), valid until the
    // next call; every chunk but the last is a whole 64 KiB.
    const uint8_t* Next(uint32_t count);

private:
    const PassSpec& pass_;
    EraseRng& rng_;
    const ByteDistribution& dist_;
    uint8_t* buffer_;
    uint64_t cursor_ = 0;                // the pattern position of a Pattern pass
    std::optional<RandomAhead> ahead_;   // engaged only while its thread runs
};

// How often a long pass asks for its written bytes to be flushed behind it,
// and the shortest pass that does: the cache then starts writing a long pass
// to the disk while the pass goes on, instead of holding it all for the
// flush at the pass's end.
constexpr int64_t kFlushBehindStretch = int64_t{16} * 1024 * 1024;
constexpr int64_t kFlushBehindMinimum = kFlushBehindStretch * 2;

// A non-copyable owner of the thread that flushes a file behind a pass.
// The pass still ends with a flush of its own; this one only shortens it.
class FlushBehind {
public:
    // Starts the thread through the OS seam for `file`, which must stay open
    // until the holder goes; without a thread nothing is flushed early.
    explicit FlushBehind(HANDLE file);
    // Waits for a flush still running and stops the thread, as Finish does.
    ~FlushBehind() { Finish(); }
    FlushBehind(const FlushBehind&) = delete;
    FlushBehind& operator=(const FlushBehind&) = delete;

    // Asks for the bytes written so far to be flushed; a request made while
    // a flush runs is served by the next one. Returns nothing.
    void Ask();
    // Waits for a flush still running and stops the thread. Returns false
    // when a flush made behind the pass failed: bytes it was to force out
    // may never reach the disk, whatever later flushes say.
    bool Finish();

private:
    // The thread's body: one flush per round of requests until the holder
    // goes. Returns nothing.
    void Run();

    const HANDLE file_;
    std::atomic<uint64_t> asked_{0};  // requests so far; kQuit: stop
    std::atomic<bool> failed_{false};
    std::thread thread_;
};
