// Sound files for the preview, read with libsndfile.
#include "Signal.h"

#include "HostError.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace preview {

namespace {

class SoundFile : public Signal {
public:
    SoundFile(SNDFILE* file, const SF_INFO& info, int channel, int64_t length)
        : m_file(file), m_info(info), m_channel(channel), m_length(length) {}
    ~SoundFile() override { sf_close(m_file); }

    int64_t Read(float* out, int64_t count) override {
        const int64_t want = std::min(count, m_length - m_position);
        if (want <= 0) {
            return 0;
        }
        const int channels = m_info.channels;
        // Interleaved frames go through one buffer that only ever grows to the largest piece.
        m_frames.resize(static_cast<size_t>(want) * channels);
        const sf_count_t got = sf_readf_float(m_file, m_frames.data(), want);
        for (sf_count_t i = 0; i < got; ++i) {
            const float* frame = &m_frames[static_cast<size_t>(i) * channels];
            if (m_channel > 0) {
                out[i] = frame[m_channel - 1];
            } else {
                float sum = 0.0f;
                for (int c = 0; c < channels; ++c) {
                    sum += frame[c];
                }
                out[i] = sum / static_cast<float>(channels);
            }
        }
        m_position += got;
        if (got < want) {
            m_length = m_position; // the file was shorter than it said
        }
        return got;
    }
    float SampleRate() const override { return static_cast<float>(m_info.samplerate); }
    int64_t Length() const override { return m_length; }

private:
    SNDFILE* m_file;
    SF_INFO m_info;
    int m_channel;
    int64_t m_length;
    int64_t m_position = 0;
    std::vector<float> m_frames;
};

} // namespace

std::unique_ptr<Signal> OpenSoundFile(const std::string& path, int channel, int64_t max_length) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        throw sehost::HostError("audio file not found: " + path);
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw sehost::HostError("cannot read audio file " + path + ": " + sf_strerror(nullptr));
    }
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        throw sehost::HostError("audio file " + path + " has no usable channels");
    }
    if (channel < 0 || channel > info.channels) {
        sf_close(file);
        throw sehost::HostError("audio file " + path + " has " + std::to_string(info.channels) +
                                " channel(s); there is no channel " + std::to_string(channel));
    }
    int64_t length = info.frames;
    if (max_length >= 0 && max_length < length) {
        length = max_length;
    }
    return std::make_unique<SoundFile>(file, info, channel, length);
}

} // namespace preview
