// Video of the view: every paint tick as a frame, with the played signal as the sound track. The
// ffmpeg program does the encoding; the writer feeds it raw pictures and samples through pipes.
#pragma once

#include "Signal.h"
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
    // Starts ffmpeg writing into a new file beside path, which takes path's name only once
    // Finish succeeds. Throws sehost::HostError when that file cannot be made or ffmpeg cannot
    // be started.
    VideoWriter(const std::string& path, int32_t width, int32_t height, double frames_per_second,
                float sample_rate);
    // Without a successful Finish: stops ffmpeg and removes its unfinished file.
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // The picture at paint tick `tick`; ticks since the last picture repeat it. Throws
    // sehost::HostError when ffmpeg has stopped.
    void Frame(const sehost::ViewCanvas& canvas, int64_t tick);
    // The signal to play in place of `signal`: the same samples, which it also sends to the
    // sound track, a stretch ahead of the pictures. ffmpeg takes the two in time order and must
    // never wait for sound while the pictures wait for it. A silent format returns `signal`.
    std::unique_ptr<Signal> Lead(std::unique_ptr<Signal> signal);
    // Repeats the last picture up to `ticks` frames in all, lets ffmpeg finish and gives the
    // file its name. Throws sehost::HostError when ffmpeg fails.
    void Finish(int64_t ticks);

private:
    class LeadingSignal;
    void Send(int fd, const void* data, size_t size);
    void Stop(); // closes the pipes, ends ffmpeg and removes the unfinished file
    void Close(int& fd);
    int Reap(); // waits for ffmpeg to end and returns its wait status

    std::string m_path;
    std::string m_temporary;
    VideoFormat m_format;
    int32_t m_width;
    int32_t m_height;
    std::vector<uint8_t> m_picture; // the last frame, RGBA
    int64_t m_frames = 0;
    int m_video = -1; // our ends of the pipes
    int m_audio = -1;
    int64_t m_lead = 0; // samples of sound sent ahead
    long m_process = -1;
    bool m_finished = false;
};

} // namespace preview
