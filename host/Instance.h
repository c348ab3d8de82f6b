// One module instance driven by the host: both halves, every plug value, the sample clock,
// the messages between the halves and the paints of the view.
#pragma once

#include "AudioSideHost.h"
#include "ViewSideHost.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sehost {

struct InstanceSettings {
    float sample_rate = 48000.0f;
    int32_t block_size = 256;
    double frames_per_second = 30.0; // paints per second of audio time
    int32_t width = 400;
    int32_t height = 100;
    uint32_t host_background = 0xFF000000; // what the host clears the view to before each paint
};

// One thing the host passed between the halves, or a paint: what a log of the run records.
struct Relay {
    enum Kind {
        VIEW_RECEIVE,
        AUDIO_NOTIFY,
        VIEW_PIN_CHANGED,
        AUDIO_PIN_CHANGED,
        INVALIDATE,
        PAINT
    };
    Kind kind;
    int64_t clock;     // the sample clock at the time
    int32_t index = 0; // the plug, or the byte count of a message
    int32_t value = 0;
    uint32_t digest = 0; // FNV-1a of a message's bytes, 0 without bytes
};

// Both halves' hosts, with the queue that carries what each says to the other: deliveries wait
// until no call into either half is under way.
class Instance : private AudioSideHost::Owner, private ViewSideHost::Owner {
public:
    // Creates both halves, reads the plug table, gives every plug its initial value, sets the
    // sample rate and block size, opens the audio side and initialises the view. Throws
    // HostError when the module refuses or the settings are unusable.
    Instance(const ModuleLibrary& library, const InstanceSettings& settings);
    ~Instance(); // closes both halves
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    const InstanceSettings& Settings() const { return m_settings; }
    const std::vector<PlugInfo>& Plugs() const { return m_state.plugs; }
    const PlugInfo* FindPlug(const std::string& name) const;

    // The value the host holds for a plug (raw bits, see PlugTable.h).
    uint32_t PlugValue(int32_t index) const;
    // A change made on the host's side (a user turning a knob): held, written to the audio
    // side and announced there, and reported to the view. Throws HostError for an audio plug
    // or an index out of range.
    void SetPlug(int32_t index, uint32_t bits);

    // Feeds count samples to the first audio input (the other audio plugs get silence) in
    // blocks of at most the block size, painting whenever a frame of audio time is due and the
    // view has asked for a redraw.
    void Run(const float* input, int64_t count);

    // Samples run so far; the 32-bit sample clock the module sees is its low 32 bits.
    int64_t Clock() const { return m_audio->Clock(); }
    int32_t SampleClock32() const { return m_audio->SampleClock32(); }

    // The view's picture as last painted (host background before the first paint).
    const ViewCanvas& Canvas() const { return m_view->Canvas(); }
    int64_t PaintCount() const { return m_view->PaintCount(); }
    // Paint ticks passed so far; while a paint is under way, the number of the tick it paints.
    int64_t Ticks() const { return m_frame; }
    // Paints now, whether or not the view asked for it.
    void Paint();
    // Called after every paint with the picture and the sample clock.
    void OnPaint(std::function<void(const ViewCanvas&, int64_t clock)> observer) {
        m_paint_observer = std::move(observer);
    }
#ifndef _WIN32
    cairo_surface_t* Surface() const {
        return Canvas().Cairo();
    }
    void OnPaint(std::function<void(cairo_surface_t*, int64_t clock)> observer) {
        m_paint_observer = [observer](const ViewCanvas& canvas, int64_t clock) {
            observer(canvas.Cairo(), clock);
        };
    }
#endif
    // Called for every delivery between the halves, every redraw request and every paint.
    void OnRelay(std::function<void(const Relay&)> observer) {
        m_relay_observer = std::move(observer);
    }

    // Counters for tests and reports.
    int64_t MessagesToView() const {
        return m_messages_to_view;
    }
    int64_t NotificationsToAudio() const {
        return m_notifications_to_audio;
    }
    int64_t DroppedDeliveries() const {
        return m_dropped;
    }

private:
    struct Delivery {
        Relay::Kind kind; // one of the four deliveries
        int32_t index = 0;
        int32_t value = 0;
        bool has_data = false;
        std::vector<uint8_t> data;
    };

    float* PinBuffer(int32_t plug) override;
    void SendToView(int32_t index, int32_t value, const void* data) override;
    void PlugWritten(const PlugInfo& plug) override;
    void NotifyAudio(int32_t index, int32_t value, const void* data) override;
    void Invalidated() override;

    void Queue(Relay::Kind kind, int32_t index, int32_t value, const void* data, int32_t size);
    void Deliver(); // delivers queued messages once no call into the module is under way
    void ProcessBlock(const float* input, int32_t count);
    int64_t FrameTick(int64_t frame) const;
    void CloseHalves();
    void Report(Relay::Kind kind, int32_t index, int32_t value, const std::vector<uint8_t>* data);

    InstanceSettings m_settings;
    PlugValues m_state;
    std::vector<std::vector<float>> m_audio_buffers; // one per audio plug, by plug index
    int32_t m_input_plug = -1;                       // the audio input that Run feeds
    std::unique_ptr<AudioSideHost> m_audio;
    std::unique_ptr<ViewSideHost> m_view;

    int64_t m_frame = 0; // next paint tick
    bool m_delivering = false;
    std::deque<Delivery> m_queue;
    std::function<void(const ViewCanvas&, int64_t)> m_paint_observer;
    std::function<void(const Relay&)> m_relay_observer;

    int64_t m_messages_to_view = 0;
    int64_t m_notifications_to_audio = 0;
    int64_t m_dropped = 0;
};

} // namespace sehost
