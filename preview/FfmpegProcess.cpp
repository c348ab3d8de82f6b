#include "FfmpegProcess.h"

#include "HostError.h"

#include <cerrno>
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

#ifdef _WIN32

FfmpegProcess::FfmpegProcess(const std::string& path, std::vector<std::string>, bool)
    : m_path(path) {
    throw HostError("--video is not in this build");
}
FfmpegProcess::~FfmpegProcess() = default;
void FfmpegProcess::Finish() {}
void FfmpegProcess::Send(int, const void*, size_t) {}
void FfmpegProcess::Close(int&) {}

#else

namespace {

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

FfmpegProcess::FfmpegProcess(const std::string& path, std::vector<std::string> arguments,
                             bool sound)
    : m_path(path) {
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
    // ffmpeg reads a name with a colon in it ("12:30.mp4") as a protocol and a resource; this
    // one can only be a file.
    arguments.insert(arguments.begin(), "ffmpeg");
    arguments.push_back("file:" + m_temporary);

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
        if (sound) {
            MakePipe(audio);
            m_sound_room = fcntl(audio[1], F_GETPIPE_SZ);
        }
    } catch (const HostError&) {
        close_child_ends();
        Stop();
        throw;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, video[0], 0);
    if (sound) {
        posix_spawn_file_actions_adddup2(&actions, audio[0], 3);
    }
    std::vector<char*> argv;
    for (std::string& arg : arguments) {
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

FfmpegProcess::~FfmpegProcess() {
    if (!m_finished) {
        Stop();
    }
}

void FfmpegProcess::Stop() {
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

void FfmpegProcess::Close(int& fd) {
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

int FfmpegProcess::Reap() {
    // A second wait would be for any child at all (pid -1).
    if (m_process <= 0) {
        return m_status;
    }
    while (waitpid(static_cast<pid_t>(m_process), &m_status, 0) < 0 && errno == EINTR) {
    }
    g_unfinished.process = 0;
    m_process = -1;
    return m_status;
}

void FfmpegProcess::Send(int fd, const void* data, size_t size) {
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

void FfmpegProcess::Finish() {
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
