#include "VideoWriter.h"

#include "HostError.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

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

} // namespace

VideoFormat VideoFormatFor(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string extension = Lower(path.substr(dot));
        for (const FormatEntry& entry : kFormats) {
            if (extension == entry.extension) {
                return entry.format;
            }
        }
    }
    std::string known;
    for (const FormatEntry& entry : kFormats) {
        known += (known.empty() ? "" : ", ") + std::string(entry.extension);
    }
    throw HostError("--video: no video format for \"" + path + "\"; the name must end in " + known);
}

#ifdef _WIN32

VideoWriter::VideoWriter(const std::string& path, int32_t, int32_t, double, float)
    : m_path(path), m_format(VideoFormatFor(path)), m_width(0), m_height(0) {
    throw HostError("--video is not in this build");
}
VideoWriter::~VideoWriter() = default;
void VideoWriter::Frame(const sehost::ViewCanvas&, int64_t) {}
std::unique_ptr<Signal> VideoWriter::Lead(std::unique_ptr<Signal> signal) {
    return signal;
}
void VideoWriter::Finish(int64_t) {}
void VideoWriter::Send(int, const void*, size_t) {}
void VideoWriter::Stop() {}
void VideoWriter::Close(int&) {}
int VideoWriter::Reap() {
    return 0;
}

#else

namespace {

const FormatEntry& EntryFor(VideoFormat format) {
    for (const FormatEntry& entry : kFormats) {
        if (entry.format == format) {
            return entry;
        }
    }
    return kFormats[0];
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

std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// A pipe whose ends lie above the descriptors that the child's inputs are moved to, so that
// moving one never lands on itself and keeps its close-on-exec flag.
void MakePipe(int ends[2]) {
    int made[2];
    if (pipe2(made, O_CLOEXEC) != 0) {
        throw HostError(std::string("cannot make a pipe to ffmpeg: ") + std::strerror(errno));
    }
    for (int k = 0; k < 2; ++k) {
        ends[k] = fcntl(made[k], F_DUPFD_CLOEXEC, 10);
        close(made[k]);
    }
    if (ends[0] < 0 || ends[1] < 0) {
        throw HostError(std::string("cannot make a pipe to ffmpeg: ") + std::strerror(errno));
    }
    // Room for a good stretch of sound while ffmpeg, opening its inputs one after the other,
    // reads only pictures (best effort: the system may allow less).
    fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
}

// What a stop by a signal must undo: the pipes, ffmpeg (ended before its file goes, or it could
// still make the file anew) and the unfinished file. There is one video at a time.
struct Unfinished {
    char path[4096];
    volatile sig_atomic_t process;
    volatile sig_atomic_t pipes[2];
};
Unfinished g_unfinished = {{0}, 0, {-1, -1}};

void RemoveUnfinished(int signal_number) {
    for (volatile sig_atomic_t& fd : g_unfinished.pipes) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (g_unfinished.process > 0) {
        kill(g_unfinished.process, SIGTERM);
        waitpid(g_unfinished.process, nullptr, 0);
    }
    if (g_unfinished.path[0] != '\0') {
        unlink(g_unfinished.path);
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void WatchUnfinished(const std::string& path) {
    if (path.size() >= sizeof g_unfinished.path) {
        return;
    }
    std::memcpy(g_unfinished.path, path.c_str(), path.size() + 1);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        signal(signal_number, RemoveUnfinished);
    }
}

std::string ExitText(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "unknown end";
}

} // namespace

VideoWriter::VideoWriter(const std::string& path, int32_t width, int32_t height,
                         double frames_per_second, float sample_rate)
    : m_path(path), m_format(VideoFormatFor(path)), m_width(width), m_height(height),
      m_picture(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0) {
    for (size_t i = 3; i < m_picture.size(); i += 4) {
        m_picture[i] = 0xFF; // opaque black until the first paint
    }
    const FormatEntry& entry = EntryFor(m_format);

    // A fresh file beside the final one, so that renaming it into place cannot cross devices.
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = directory + "." + name + ".XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        throw HostError("cannot write " + path + ": " + std::strerror(errno));
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask); // as any new file, not mkstemp's private mode
    close(fd);
    m_temporary = pattern;
    WatchUnfinished(m_temporary);

    // Both inputs are raw and fully described here, so ffmpeg need not look into them before
    // it starts. Each is read into a queue of its own; the pictures' queue holds at most about
    // 32 MB, as ffmpeg fills it whenever the encoder falls behind.
    std::vector<std::string> args;
    const auto input = [&args](int64_t queue) {
        args.insert(args.end(), {"-probesize", "32", "-analyzeduration", "0", "-thread_queue_size",
                                 std::to_string(queue)});
    };
    args = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y"};
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
    const std::vector<std::string> encoders = EncoderArguments(m_format);
    args.insert(args.end(), encoders.begin(), encoders.end());
    args.insert(args.end(), {"-f", entry.muxer, m_temporary});

    int video[2] = {-1, -1};
    int audio[2] = {-1, -1};
    const auto close_child_ends = [&] {
        for (int end : {video[0], audio[0]}) {
            if (end >= 0) {
                close(end);
            }
        }
        m_video = video[1];
        m_audio = audio[1];
    };
    try {
        MakePipe(video);
        if (entry.sound) {
            MakePipe(audio);
            // Half the pipe, so that the lead fits while ffmpeg still opens the pictures' input.
            const int bytes = fcntl(audio[1], F_GETPIPE_SZ);
            m_lead = std::clamp<int64_t>(bytes / 8, 1024, 32768);
        }
    } catch (const HostError&) {
        close_child_ends();
        Stop();
        throw;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, video[0], 0);
    if (entry.sound) {
        posix_spawn_file_actions_adddup2(&actions, audio[0], 3);
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close_child_ends();
    if (error != 0) {
        Stop();
        if (error == ENOENT) {
            throw HostError("--video needs the ffmpeg program, and there is none on the PATH; "
                            "install FFmpeg (scripts/setup does)");
        }
        throw HostError("cannot start ffmpeg: " + std::string(std::strerror(error)));
    }
    m_process = pid;
    g_unfinished.pipes[0] = m_video;
    g_unfinished.pipes[1] = m_audio;
    g_unfinished.process = pid;
    // A broken pipe is reported by write, with ffmpeg's own message already on the terminal.
    signal(SIGPIPE, SIG_IGN);
}

VideoWriter::~VideoWriter() {
    if (!m_finished) {
        Stop();
    }
}

void VideoWriter::Stop() {
    Close(m_video);
    Close(m_audio);
    if (m_process > 0) {
        kill(static_cast<pid_t>(m_process), SIGTERM);
        Reap();
    }
    if (!m_temporary.empty()) {
        unlink(m_temporary.c_str());
        g_unfinished.path[0] = '\0';
    }
}

void VideoWriter::Close(int& fd) {
    for (volatile sig_atomic_t& watched : g_unfinished.pipes) {
        if (watched == fd) {
            watched = -1;
        }
    }
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

int VideoWriter::Reap() {
    int status = 0;
    while (waitpid(static_cast<pid_t>(m_process), &status, 0) < 0 && errno == EINTR) {
    }
    g_unfinished.process = 0;
    m_process = -1;
    return status;
}

void VideoWriter::Send(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw HostError("ffmpeg stopped (" + ExitText(Reap()) + "); " + m_path +
                            " not written");
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
}

void VideoWriter::Frame(const sehost::ViewCanvas& canvas, int64_t tick) {
    for (; m_frames < tick; ++m_frames) {
        Send(m_video, m_picture.data(), m_picture.size());
    }
    const size_t row = static_cast<size_t>(m_width) * 4;
    for (int32_t y = 0; y < m_height; ++y) {
        sehost::StraightRgba(canvas.Row(y), m_width, &m_picture[y * row]);
    }
    Send(m_video, m_picture.data(), m_picture.size());
    m_frames = tick + 1;
}

class VideoWriter::LeadingSignal : public Signal {
public:
    LeadingSignal(std::unique_ptr<Signal> inner, VideoWriter& writer)
        : m_inner(std::move(inner)), m_writer(writer), m_ring(static_cast<size_t>(writer.m_lead)) {}

    int64_t Read(float* out, int64_t count) override {
        const size_t size = m_ring.size();
        while (!m_ended && m_buffered < size) {
            const size_t tail = (m_head + m_buffered) % size;
            const size_t room = std::min(size - m_buffered, size - tail);
            const int64_t got = m_inner->Read(&m_ring[tail], static_cast<int64_t>(room));
            if (got <= 0) {
                // The end at once: ffmpeg holds back a last short piece of sound until then.
                m_writer.Close(m_writer.m_audio);
                m_ended = true;
                break;
            }
            m_writer.Send(m_writer.m_audio, &m_ring[tail],
                          static_cast<size_t>(got) * sizeof(float));
            m_buffered += static_cast<size_t>(got);
        }
        int64_t done = 0;
        while (done < count && m_buffered > 0) {
            const size_t n =
                std::min({static_cast<size_t>(count - done), m_buffered, size - m_head});
            std::copy_n(&m_ring[m_head], n, out + done);
            m_head = (m_head + n) % size;
            m_buffered -= n;
            done += static_cast<int64_t>(n);
        }
        return done;
    }
    float SampleRate() const override { return m_inner->SampleRate(); }
    int64_t Length() const override { return m_inner->Length(); }

private:
    std::unique_ptr<Signal> m_inner;
    VideoWriter& m_writer;
    std::vector<float> m_ring;
    size_t m_head = 0;
    size_t m_buffered = 0;
    bool m_ended = false;
};

std::unique_ptr<Signal> VideoWriter::Lead(std::unique_ptr<Signal> signal) {
    if (m_audio < 0) {
        return signal;
    }
    return std::make_unique<LeadingSignal>(std::move(signal), *this);
}

void VideoWriter::Finish(int64_t ticks) {
    for (; m_frames < ticks; ++m_frames) {
        Send(m_video, m_picture.data(), m_picture.size());
    }
    Close(m_video);
    Close(m_audio);
    const int status = Reap();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw HostError("ffmpeg failed (" + ExitText(status) + "); " + m_path + " not written");
    }
    const bool renamed = std::rename(m_temporary.c_str(), m_path.c_str()) == 0;
    g_unfinished.path[0] = '\0';
    if (!renamed) {
        throw HostError("cannot write " + m_path + ": " + std::strerror(errno));
    }
    m_finished = true;
}

#endif

} // namespace preview
