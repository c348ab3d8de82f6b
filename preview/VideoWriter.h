// Video of the view: every paint tick as a frame, with the played signal as the sound track. The
// ffmpeg program does the encoding (FfmpegProcess); the writer feeds it raw pictures and samples.
#pragma once

#include "FfmpegProcess.h"
#include "ViewCanvas.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace preview {

enum class VideoFormat {
    Mp4,      // H.264 and AAC; odd sizes gain a black row or column
    WebM,     // VP9 and Opus
    Matroska, // FFV1 and FLAC, lossless
    Gif,      // silent, a palette per frame
    WebP,     // silent, lossless
};

// The format that a file name's extension asks for. Throws sehost::HostError for any other name,
// listing the extensions known.
VideoFormat VideoFormatFor(const std::string& path);

class VideoWriter {
public:
    // Starts ffmpeg writing path, which the file takes only once Finish succeeds. Throws
    // sehost::HostError when that file cannot be made or ffmpeg cannot be started.
    VideoWriter(const std::string& path, int32_t width, int32_t height, double frames_per_second,
                float sample_rate);

    // The picture at paint tick `tick`; ticks since the last picture repeat it. Throws
    // sehost::HostError when ffmpeg has stopped.
    void Frame(const sehost::ViewCanvas& canvas, int64_t tick);
    // Samples of sound to hand over ahead of the pictures they belong to: ffmpeg takes the two
    // in time order and must never wait for sound while the pictures wait for it. 0 for a
    // silent format.
    int64_t SoundLead() const { return m_lead; }
    // The next samples of the sound track; ignored by a silent format. Throws like Frame.
    void Sound(const float* samples, int64_t count);
    // The sound track is complete.
    void EndSound();
    // Repeats the last picture up to `ticks` frames in all, lets ffmpeg finish and gives the
    // file its name. Throws sehost::HostError when ffmpeg fails.
    void Finish(int64_t ticks);

private:
    int32_t m_width;
    int32_t m_height;
    std::vector<uint8_t> m_picture; // the last frame, RGBA
    int64_t m_frames = 0;
    int64_t m_lead = 0;
    std::unique_ptr<FfmpegProcess> m_ffmpeg;
};

} // namespace preview
