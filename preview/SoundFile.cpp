// Sound files for the preview, read with libsndfile.
#include "Signal.h"

#include "ChannelMean.h"
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
        int64_t done = 0;
        while (done < count) {
            if (m_next == m_filled && !Refill()) {
                break;
            }
            const int64_t take = std::min(count - done, m_filled - m_next);
            std::copy_n(m_samples.begin() + m_next, take, out + done);
            m_next += take;
            done += take;
        }
        return done;
    }
    float SampleRate() const override { return static_cast<float>(m_info.samplerate); }
    int64_t Length() const override { return m_length; }

private:
    // The file is read a large piece at a time, however small the blocks asked for: each read
    // of the file costs a call into the system.
    static constexpr int64_t kPieceFrames = 16384;

    bool Refill() {
        const int64_t want = std::min(kPieceFrames, m_length - m_position);
        if (want <= 0) {
            return false;
        }
        const int channels = m_info.channels;
        m_frames.resize(static_cast<size_t>(want) * channels);
        m_samples.resize(static_cast<size_t>(want));
        const sf_count_t got = sf_readf_float(m_file, m_frames.data(), want);
        for (sf_count_t i = 0; i < got; ++i) {
            const float* frame = &m_frames[static_cast<size_t>(i) * channels];
            if (m_channel > 0) {
                m_samples[i] = frame[m_channel - 1];
            } else {
                m_samples[i] =
                    sehost::MeanOfChannels(channels, [frame](int c) { return frame[c]; });
            }
        }
        m_position += got;
        if (got < want) {
            m_length = m_position; // the file was shorter than it said
        }
        m_next = 0;
        m_filled = got;
        return got > 0;
    }

    SNDFILE* m_file;
    SF_INFO m_info;
    int m_channel;
    int64_t m_length;
    int64_t m_position = 0;
    std::vector<float> m_frames;
    std::vector<float> m_samples; // the piece read last, one sample per frame
    int64_t m_next = 0;           // the first of them not yet handed out
    int64_t m_filled = 0;
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
