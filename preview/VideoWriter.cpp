#include "VideoWriter.h"

#include "Decimal.h"
#include "HostError.h"

#include <algorithm>
#include <cmath>

namespace preview {

using sehost::HostError;

namespace {

struct FormatEntry {
    const char* extension;
    VideoFormat format;
    const char* muxer;
    bool sound;
};

constexpr FormatEntry kFormats[] = {
    {".mp4", VideoFormat::Mp4, "mp4", true},           {".webm", VideoFormat::WebM, "webm", true},
    {".mkv", VideoFormat::Matroska, "matroska", true}, {".gif", VideoFormat::Gif, "gif", false},
    {".webp", VideoFormat::WebP, "webp", false},
};

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

const FormatEntry& EntryFor(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string extension = Lower(path.substr(dot));
        for (const FormatEntry& entry : kFormats) {
            if (extension == entry.extension) {
                return entry;
            }
        }
    }
    std::string known;
    for (const FormatEntry& entry : kFormats) {
        known += (known.empty() ? "" : ", ") + std::string(entry.extension);
    }
    throw HostError("--video: no video format for \"" + path + "\"; the name must end in " + known);
}

// The encoders and their settings for each format, after the inputs (0: pictures, 1: sound).
std::vector<std::string> EncoderArguments(VideoFormat format) {
    switch (format) {
    case VideoFormat::Mp4:
        // 4:2:0 needs even sizes, and most players need 4:2:0.
        return {"-vf",       "pad=ceil(iw/2)*2:ceil(ih/2)*2",
                "-c:v",      "libx264",
                "-preset",   "veryfast",
                "-crf",      "18",
                "-pix_fmt",  "yuv420p",
                "-c:a",      "aac",
                "-b:a",      "160k",
                "-movflags", "+faststart"};
    case VideoFormat::WebM:
        return {"-c:v",      "libvpx-vp9", "-crf",      "30",      "-b:v",    "0",
                "-deadline", "good",       "-cpu-used", "5",       "-row-mt", "1",
                "-pix_fmt",  "yuv420p",    "-c:a",      "libopus", "-b:a",    "128k"};
    case VideoFormat::Matroska:
        return {"-c:v", "ffv1", "-c:a", "flac"};
    case VideoFormat::Gif:
        // A palette of each frame's own colours keeps the memory flat (a palette for the whole
        // film would hold every frame until the end) and is exact up to 255 colours.
        return {"-vf",
                "split[a][b];[a]palettegen=stats_mode=single[p];"
                "[b][p]paletteuse=new=1:dither=none",
                "-loop", "0"};
    case VideoFormat::WebP:
        return {"-c:v", "libwebp_anim", "-lossless", "1", "-loop", "0"};
    }
    return {};
}

} // namespace

VideoFormat VideoFormatFor(const std::string& path) {
    return EntryFor(path).format;
}

VideoWriter::VideoWriter(const std::string& path, int32_t width, int32_t height,
                         double frames_per_second, float sample_rate)
    : m_width(width), m_height(height),
      m_picture(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0) {
    const FormatEntry& entry = EntryFor(path);
    for (size_t i = 3; i < m_picture.size(); i += 4) {
        m_picture[i] = 0xFF; // opaque black until the first paint
    }
    // Both inputs are raw and fully described here, so ffmpeg need not look into them before
    // it starts. Each is read into a queue of its own; the pictures' queue holds at most about
    // 32 MB, as ffmpeg fills it whenever the encoder falls behind.
    std::vector<std::string> args;
    const auto input = [&args](int64_t queue) {
        args.insert(args.end(), {"-probesize", "32", "-analyzeduration", "0", "-thread_queue_size",
                                 std::to_string(queue)});
    };
    args = {"-hide_banner", "-nostdin", "-loglevel", "error", "-y"};
    input(std::clamp<int64_t>((int64_t{32} << 20) / static_cast<int64_t>(m_picture.size()), 4, 64));
    args.insert(args.end(), {"-f", "rawvideo", "-pix_fmt", "rgba", "-s",
                             std::to_string(width) + "x" + std::to_string(height), "-framerate",
                             Decimal(frames_per_second), "-i", "pipe:0"});
    if (entry.sound) {
        input(64);
        args.insert(args.end(), {"-f", "f32le", "-ar",
                                 std::to_string(std::lround(static_cast<double>(sample_rate))),
                                 "-ac", "1", "-i", "pipe:3", "-map", "0:v", "-map", "1:a"});
    }
    const std::vector<std::string> encoders = EncoderArguments(entry.format);
    args.insert(args.end(), encoders.begin(), encoders.end());
    args.insert(args.end(), {"-f", entry.muxer});
    m_ffmpeg = std::make_unique<FfmpegProcess>(path, std::move(args), entry.sound);
    // Half the pipe, so that the lead fits while ffmpeg still opens the pictures' input.
    if (entry.sound) {
        m_lead = std::clamp<int64_t>(m_ffmpeg->SoundRoom() / 8, 1024, 32768);
    }
}

void VideoWriter::Frame(const sehost::ViewCanvas& canvas, int64_t tick) {
    for (; m_frames < tick; ++m_frames) {
        m_ffmpeg->SendPictures(m_picture.data(), m_picture.size());
    }
    const size_t row = static_cast<size_t>(m_width) * 4;
    for (int32_t y = 0; y < m_height; ++y) {
        sehost::StraightRgba(canvas.Row(y), m_width, &m_picture[y * row]);
    }
    m_ffmpeg->SendPictures(m_picture.data(), m_picture.size());
    m_frames = tick + 1;
}

void VideoWriter::Sound(const float* samples, int64_t count) {
    if (m_lead > 0 && count > 0) {
        m_ffmpeg->SendSound(samples, static_cast<size_t>(count) * sizeof(float));
    }
}

void VideoWriter::EndSound() {
    m_ffmpeg->EndSound();
}

void VideoWriter::Finish(int64_t ticks) {
    for (; m_frames < ticks; ++m_frames) {
        m_ffmpeg->SendPictures(m_picture.data(), m_picture.size());
    }
    m_ffmpeg->Finish();
}

} // namespace preview
