#pragma once

// Sound output straight to the PulseAudio server, for sounds that must be heard on time.
//
// A sink that no program plays to renders up to two seconds ahead, so a stream that joins it is
// heard only after that block and its drain returns a block late. The connection therefore keeps
// one corked stream that asks for a small latency: it plays nothing and lets an idle sink be
// suspended, but while it exists the sink renders only a few milliseconds ahead, and each sound
// starts at once and ends on time.

#include <atomic>
#include <cstdint>
#include <memory>

namespace zkPulse {

// Loads the PulseAudio library, connects to the server in the background and opens the corked
// stream, so the first sound is on time too. Returns once the connection is under way; does
// nothing when already connected or connecting.
void Prepare();

// Whether the connection is up with its corked stream in place (tests, benchmarks).
bool Ready();

// The server's output devices (sinks); 0 where no server answers. Blocks while a server is
// still being connected to, so not for the user-interface thread at start-up.
int OutputCount();

// Closes the connection (tests; the process's end closes it anyway).
void Shutdown();

// One sound's stream of interleaved stereo 16-bit frames. Every call blocks the calling thread
// (the sound player's own), never the user-interface thread, and gives up when *stop is set.
class TPlayback {
public:
    // Nullptr when no server answers within a short wait: the caller falls back to other output.
    static std::unique_ptr<TPlayback> Open(int sampleRate);
    ~TPlayback(); // a sound not yet finished is cut off

    TPlayback(const TPlayback&) = delete;
    TPlayback& operator=(const TPlayback&) = delete;

    // False when the stream fails (the server went away).
    bool Write(const int16_t* frames, int64_t count, const std::atomic_bool* stop);
    // Waits until the last frame written has been played.
    bool Finish(const std::atomic_bool* stop);

    struct TState;

private:
    explicit TPlayback(std::unique_ptr<TState> state);
    std::unique_ptr<TState> State;
};

} // namespace zkPulse
