#include "desktop/zkPulseAudio.h"

#include "platform/zkSharedLibrary.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace zkPulse {

namespace {

// clang-format off
#define ZK_PULSE_FUNCTIONS(X) \
    X(pa_bytes_to_usec) \
    X(pa_context_connect) \
    X(pa_context_disconnect) \
    X(pa_context_get_sink_info_list) \
    X(pa_context_get_state) \
    X(pa_context_new_with_proplist) \
    X(pa_context_set_state_callback) \
    X(pa_context_set_subscribe_callback) \
    X(pa_context_subscribe) \
    X(pa_context_unref) \
    X(pa_operation_cancel) \
    X(pa_operation_get_state) \
    X(pa_operation_unref) \
    X(pa_proplist_free) \
    X(pa_proplist_new) \
    X(pa_proplist_sets) \
    X(pa_stream_connect_playback) \
    X(pa_stream_disconnect) \
    X(pa_stream_drain) \
    X(pa_stream_get_state) \
    X(pa_stream_new) \
    X(pa_stream_unref) \
    X(pa_stream_writable_size) \
    X(pa_stream_write) \
    X(pa_threaded_mainloop_free) \
    X(pa_threaded_mainloop_get_api) \
    X(pa_threaded_mainloop_lock) \
    X(pa_threaded_mainloop_new) \
    X(pa_threaded_mainloop_signal) \
    X(pa_threaded_mainloop_start) \
    X(pa_threaded_mainloop_stop) \
    X(pa_threaded_mainloop_unlock) \
    X(pa_usec_to_bytes)
// clang-format on

struct TPulseApi {
    ZK_PULSE_FUNCTIONS(ZK_SHARED_POINTER)
};

// libpulse, opened when sound output is first prepared; nullptr where it cannot be loaded.
const TPulseApi* Pulse() {
    return zkShared::Load<TPulseApi>("libpulse.so.0", [](void* h, TPulseApi& a) {
        return ZK_PULSE_FUNCTIONS(ZK_SHARED_RESOLVE) true;
    });
}

// Only once a connection exists, which needs the library.
const TPulseApi& Lib() {
    return *Pulse();
}

// What the corked stream asks the sink for: how far ahead it may render, so about how late a
// sound starts and how late its end is seen. Small enough for a sound to be on time, large
// enough not to keep the server waking every few milliseconds.
constexpr pa_usec_t StandbyLatencyUs = 20 * 1000;
// The sound streams' own buffer: a player thread woken late by a busy machine does not starve
// the sink. It does not delay the start, which the sink's latency decides.
constexpr pa_usec_t PlaybackBufferUs = 250 * 1000;
// How long an opening waits for a server that is still being connected to.
constexpr auto ConnectWait = std::chrono::milliseconds(1500);
constexpr auto Poll = std::chrono::milliseconds(2);

// One connection to the server: its own event thread, the context and the corked stream.
struct TConnection {
    pa_threaded_mainloop* Loop = nullptr;
    pa_context* Context = nullptr;
    pa_stream* Standby = nullptr;
    // The server's sinks (output devices), counted when the connection is made and again when
    // one comes or goes.
    int Sinks = 0;
    bool SinksKnown = false;

    ~TConnection() {
        if (!Loop)
            return;
        Lib().pa_threaded_mainloop_lock(Loop);
        if (Standby) {
            Lib().pa_stream_disconnect(Standby);
            Lib().pa_stream_unref(Standby);
        }
        if (Context) {
            Lib().pa_context_disconnect(Context);
            Lib().pa_context_unref(Context);
        }
        Lib().pa_threaded_mainloop_unlock(Loop);
        Lib().pa_threaded_mainloop_stop(Loop);
        Lib().pa_threaded_mainloop_free(Loop);
    }
    void Lock() { Lib().pa_threaded_mainloop_lock(Loop); }
    void Unlock() { Lib().pa_threaded_mainloop_unlock(Loop); }
    // Called with the lock held.
    pa_context_state_t ContextState() const { return Lib().pa_context_get_state(Context); }
    bool Failed() const { return !PA_CONTEXT_IS_GOOD(ContextState()); }
};

pa_sample_spec StereoSpec(uint32_t rate) {
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_S16NE;
    spec.rate = rate;
    spec.channels = 2;
    return spec;
}

// Opens the corked stream; with the loop's lock held (or on the loop's own thread).
void OpenStandby(TConnection& c) {
    if (c.Standby) {
        if (PA_STREAM_IS_GOOD(Lib().pa_stream_get_state(c.Standby)))
            return;
        Lib().pa_stream_unref(c.Standby);
        c.Standby = nullptr;
    }
    const pa_sample_spec spec = StereoSpec(44100);
    pa_stream* stream = Lib().pa_stream_new(c.Context, "Standby", &spec, nullptr);
    if (!stream)
        return;
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(Lib().pa_usec_to_bytes(StandbyLatencyUs, &spec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    if (Lib().pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        Lib().pa_stream_unref(stream);
        return;
    }
    c.Standby = stream;
}

// One count of the sinks; the replies of a context come in the order asked, so the last count
// asked for is the last to land.
struct TSinkCount {
    TConnection* Connection;
    int Sinks = 0;
};

void SinkListed(pa_context*, const pa_sink_info* info, int end, void* data) {
    auto* count = static_cast<TSinkCount*>(data);
    if (end == 0) {
        if (info)
            ++count->Sinks;
        return;
    }
    TConnection& c = *count->Connection;
    c.Sinks = end > 0 ? count->Sinks : 0; // a failed listing shows no device
    c.SinksKnown = true;
    delete count;
    Lib().pa_threaded_mainloop_signal(c.Loop, 0);
}

// On the loop's thread.
void CountSinks(TConnection& c) {
    auto* count = new TSinkCount{&c};
    if (pa_operation* listing = Lib().pa_context_get_sink_info_list(c.Context, SinkListed, count))
        Lib().pa_operation_unref(listing);
    else
        delete count;
}

void SinkEvent(pa_context*, pa_subscription_event_type_t event, uint32_t, void* data) {
    // A sink's volume or port changing does not change the count.
    if ((event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE)
        CountSinks(*static_cast<TConnection*>(data));
}

void ContextStateChanged(pa_context* context, void* data) {
    auto* c = static_cast<TConnection*>(data);
    if (Lib().pa_context_get_state(context) == PA_CONTEXT_READY) {
        OpenStandby(*c);
        Lib().pa_context_set_subscribe_callback(context, SinkEvent, c);
        if (pa_operation* subscribing =
                Lib().pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK, nullptr, nullptr))
            Lib().pa_operation_unref(subscribing);
        CountSinks(*c);
    }
    Lib().pa_threaded_mainloop_signal(c->Loop, 0);
}

std::unique_ptr<TConnection> Connect() {
    if (!Pulse())
        return nullptr; // no PulseAudio on this machine: no server to play to either
    auto c = std::make_unique<TConnection>();
    c->Loop = Lib().pa_threaded_mainloop_new();
    if (!c->Loop)
        return nullptr;
    pa_proplist* props = Lib().pa_proplist_new();
    Lib().pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Velquist");
    Lib().pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "event");
    c->Context = Lib().pa_context_new_with_proplist(Lib().pa_threaded_mainloop_get_api(c->Loop),
                                                    "Velquist", props);
    Lib().pa_proplist_free(props);
    if (!c->Context)
        return nullptr;
    Lib().pa_context_set_state_callback(c->Context, ContextStateChanged, c.get());
    // No server of our own: one that is not running means no sound here, not a new daemon.
    if (Lib().pa_context_connect(c->Context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return nullptr;
    if (Lib().pa_threaded_mainloop_start(c->Loop) < 0)
        return nullptr;
    return c;
}

std::mutex CurrentLock;
// Never destroyed at exit: sound threads may still hold it while the process ends.
std::shared_ptr<TConnection>& Current() {
    static auto* current = new std::shared_ptr<TConnection>();
    return *current;
}

// The live connection, made anew when there is none or the server dropped the last one.
std::shared_ptr<TConnection> Connection() {
    const std::lock_guard<std::mutex> guard(CurrentLock);
    std::shared_ptr<TConnection>& current = Current();
    if (current) {
        current->Lock();
        const bool failed = current->Failed();
        current->Unlock();
        if (failed)
            current.reset();
    }
    if (!current)
        current = Connect();
    return current;
}

// Sleeps a moment between two looks at the server's state, without its lock.
void Pause(TConnection& c) {
    c.Unlock();
    std::this_thread::sleep_for(Poll);
    c.Lock();
}

bool Stopped(const std::atomic_bool* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

// Waits, with the loop's lock held, until `done` holds of the connection: false once the
// connection fails or a server still being connected to has not answered in time.
template <typename FDone> bool WaitFor(TConnection& c, FDone done) {
    const auto deadline = std::chrono::steady_clock::now() + ConnectWait;
    while (!done()) {
        if (c.Failed() || std::chrono::steady_clock::now() > deadline)
            return false;
        Pause(c);
    }
    return true;
}

} // namespace

struct TPlayback::TState {
    std::shared_ptr<TConnection> Connection;
    pa_stream* Stream = nullptr;
    pa_sample_spec Spec{};
    int64_t Written = 0; // frames
};

void Prepare() {
    (void)Connection();
}

bool Ready() {
    const std::lock_guard<std::mutex> guard(CurrentLock);
    const std::shared_ptr<TConnection>& current = Current();
    if (!current)
        return false;
    current->Lock();
    const bool ready = current->ContextState() == PA_CONTEXT_READY && current->Standby &&
                       Lib().pa_stream_get_state(current->Standby) == PA_STREAM_READY;
    current->Unlock();
    return ready;
}

int OutputCount() {
    std::shared_ptr<TConnection> c = Connection();
    if (!c)
        return 0;
    c->Lock();
    const int sinks = WaitFor(*c, [&] { return c->SinksKnown; }) ? c->Sinks : 0;
    c->Unlock();
    return sinks;
}

void Shutdown() {
    std::shared_ptr<TConnection> last;
    {
        const std::lock_guard<std::mutex> guard(CurrentLock);
        last.swap(Current());
    }
}

TPlayback::TPlayback(std::unique_ptr<TState> state) : State(std::move(state)) {}

std::unique_ptr<TPlayback> TPlayback::Open(int sampleRate) {
    if (sampleRate <= 0 || uint32_t(sampleRate) > PA_RATE_MAX)
        return nullptr;
    std::shared_ptr<TConnection> c = Connection();
    if (!c)
        return nullptr;
    auto state = std::make_unique<TState>();
    state->Connection = c;
    state->Spec = StereoSpec(uint32_t(sampleRate));
    c->Lock();
    if (!WaitFor(*c, [&] { return c->ContextState() == PA_CONTEXT_READY; })) {
        c->Unlock();
        return nullptr;
    }
    // A server that dropped the corked stream (or a sink that went away) gets a new one.
    OpenStandby(*c);
    pa_stream* stream = Lib().pa_stream_new(c->Context, "Alert sound", &state->Spec, nullptr);
    if (!stream) {
        c->Unlock();
        return nullptr;
    }
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(Lib().pa_usec_to_bytes(PlaybackBufferUs, &state->Spec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    if (Lib().pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_NOFLAGS, nullptr,
                                         nullptr) < 0) {
        Lib().pa_stream_unref(stream);
        c->Unlock();
        return nullptr;
    }
    state->Stream = stream;
    while (Lib().pa_stream_get_state(stream) == PA_STREAM_CREATING)
        Pause(*c);
    const bool ready = Lib().pa_stream_get_state(stream) == PA_STREAM_READY;
    c->Unlock();
    std::unique_ptr<TPlayback> playback(new TPlayback(std::move(state)));
    return ready ? std::move(playback) : nullptr;
}

TPlayback::~TPlayback() {
    if (!State->Stream)
        return;
    TConnection& c = *State->Connection;
    c.Lock();
    Lib().pa_stream_disconnect(State->Stream);
    Lib().pa_stream_unref(State->Stream);
    c.Unlock();
}

bool TPlayback::Write(const int16_t* frames, int64_t count, const std::atomic_bool* stop) {
    TConnection& c = *State->Connection;
    const auto* data = reinterpret_cast<const uint8_t*>(frames);
    size_t left = size_t(count) * 4;
    c.Lock();
    while (left > 0 && !Stopped(stop)) {
        if (Lib().pa_stream_get_state(State->Stream) != PA_STREAM_READY) {
            c.Unlock();
            return false;
        }
        const size_t room = Lib().pa_stream_writable_size(State->Stream);
        if (room == size_t(-1)) {
            c.Unlock();
            return false;
        }
        const size_t n = std::min(room, left) & ~size_t(3);
        if (n == 0) {
            Pause(c);
            continue;
        }
        if (Lib().pa_stream_write(State->Stream, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            c.Unlock();
            return false;
        }
        data += n;
        left -= n;
        State->Written += int64_t(n / 4);
    }
    c.Unlock();
    return true;
}

bool TPlayback::Finish(const std::atomic_bool* stop) {
    TConnection& c = *State->Connection;
    bool drained = false;
    c.Lock();
    pa_operation* drain = Lib().pa_stream_drain(
        State->Stream, [](pa_stream*, int, void* done) { *static_cast<bool*>(done) = true; },
        &drained);
    if (!drain) {
        c.Unlock();
        return false;
    }
    // A server that stops playing is given up on once the sound and two seconds more have passed.
    const auto giveUp = std::chrono::steady_clock::now() +
                        std::chrono::microseconds(
                            Lib().pa_bytes_to_usec(uint64_t(State->Written) * 4, &State->Spec)) +
                        std::chrono::seconds(2);
    bool ok = true;
    while (!drained && !Stopped(stop)) {
        if (Lib().pa_operation_get_state(drain) != PA_OPERATION_RUNNING ||
            Lib().pa_stream_get_state(State->Stream) != PA_STREAM_READY) {
            ok = drained;
            break;
        }
        if (std::chrono::steady_clock::now() > giveUp)
            break;
        Pause(c);
    }
    Lib().pa_operation_cancel(drain);
    Lib().pa_operation_unref(drain);
    c.Unlock();
    return ok;
}

} // namespace zkPulse
