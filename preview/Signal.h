// Sources of the mono signal that the preview plays: the built-in demo signal or a sound file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace preview {

class Signal {
public:
    virtual ~Signal() = default;
    // Writes up to count samples; returns how many, 0 at the end.
    virtual int64_t Read(float* out, int64_t count) = 0;
    virtual float SampleRate() const = 0;
    // Samples in all, as far as they will be read.
    virtual int64_t Length() const = 0;
};

// A repeating six-second programme: two seconds of a steady wave whose period is a whole number
// of samples (rate / 400, so an 800-sample snapshot holds two periods and every synced snapshot
// is the same), then silence, a run of decaying hits of different strengths, silence again and
// a slow swell. The same rate and length always give the same samples.
std::unique_ptr<Signal> MakeDemoSignal(float sample_rate, int64_t length);

// Streams a sound file (anything libsndfile reads: WAV, FLAC, Ogg...) in pieces. channel 0 mixes
// all channels down, 1 to N picks one. max_length < 0 reads the whole file. Throws
// sehost::HostError when the file is missing or unreadable or the channel does not exist.
std::unique_ptr<Signal> OpenSoundFile(const std::string& path, int channel, int64_t max_length);

} // namespace preview
