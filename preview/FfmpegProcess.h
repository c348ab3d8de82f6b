// The ffmpeg program as a process the preview feeds: started with its output in a fresh file
// beside the final one, pictures on its standard input and sound, when there is any, on a second
// pipe. A stop by a signal, or a run that does not finish, ends it and removes its file; only a
// finished run gives the file its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace preview {

class FfmpegProcess {
public:
    // Starts ffmpeg with these arguments and the output file last. The pictures' input is
    // "pipe:0", the sound's "pipe:3". Throws sehost::HostError when the file cannot be made or
    // ffmpeg cannot be started.
    FfmpegProcess(const std::string& path, std::vector<std::string> arguments, bool sound);
    // Without a successful Finish: stops ffmpeg and removes its unfinished file.
    ~FfmpegProcess();
    FfmpegProcess(const FfmpegProcess&) = delete;
    FfmpegProcess& operator=(const FfmpegProcess&) = delete;

    // Throw sehost::HostError, with how ffmpeg ended, when it has stopped.
    void SendPictures(const void* data, size_t size) { Send(m_video, data, size); }
    void SendSound(const void* data, size_t size) { Send(m_audio, data, size); }
    // The end of the sound, at once: ffmpeg holds back a last short piece of it until then.
    void EndSound() { Close(m_audio); }
    // Bytes of sound the pipe holds while ffmpeg reads only pictures, 0 without sound.
    int64_t SoundRoom() const { return m_sound_room; }
    // Ends both inputs, waits for ffmpeg and gives the file its name. Throws
    // sehost::HostError when ffmpeg fails or the file cannot be renamed.
    void Finish();

private:
    void Send(int fd, const void* data, size_t size);
    void Stop(); // closes the pipes, ends ffmpeg and removes the unfinished file
    void Close(int& fd);
    // Waits for ffmpeg to end and returns its wait status; once reaped, the same status again.
    int Reap();

    std::string m_path;
    std::string m_temporary;
    int m_video = -1; // our ends of the pipes
    int m_audio = -1;
    int64_t m_sound_room = 0;
    long m_process = -1;
    int m_status = 0; // ffmpeg's wait status, once reaped
    bool m_finished = false;
};

} // namespace preview
