// wavepreview: plays a signal through one module instance and writes the view as PNG.
#include "HostError.h"
#include "Instance.h"
#include "ModuleLibrary.h"
#include "Options.h"
#include "Signal.h"
#include "VideoWriter.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using sehost::HostError;

std::string ProgramDirectory(const char* argv0) {
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self = n > 0 && n < sizeof path ? std::string(path, n) : std::string(argv0);
    const size_t slash = self.find_last_of("/\\");
#else
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string(argv0);
    const size_t slash = self.rfind('/');
#endif
    return slash == std::string::npos ? "." : self.substr(0, slash);
}

// Beside the program in a build; an installed program shares the plug-in bundle's copy.
std::string DefaultModulePath(const char* argv0) {
    const std::string beside = ProgramDirectory(argv0) + "/" MODULE_FILE_NAME;
#ifdef INSTALLED_MODULE_DIR
    if (FILE* file = std::fopen(beside.c_str(), "rb")) {
        std::fclose(file);
        return beside;
    }
    return ProgramDirectory(argv0) + "/../" INSTALLED_MODULE_DIR "/" MODULE_FILE_NAME;
#else
    return beside;
#endif
}

bool ErrorsGoToATerminal() {
#ifdef _WIN32
    return _isatty(2) != 0;
#else
    return isatty(2) != 0;
#endif
}

// One line per relay: the sample clock, what it was, and its numbers.
class RelayLog {
public:
    explicit RelayLog(const std::string& path) : m_file(std::fopen(path.c_str(), "wb")) {
        if (m_file == nullptr) {
            throw HostError("cannot write " + path);
        }
    }
    ~RelayLog() { std::fclose(m_file); }
    RelayLog(const RelayLog&) = delete;
    RelayLog& operator=(const RelayLog&) = delete;

    void Write(const sehost::Relay& r) {
        static const char* const kNames[] = {"receive",    "notify",     "view-plug",
                                             "audio-plug", "invalidate", "paint"};
        std::fprintf(m_file, "%lld %s %d %d %08x\n", static_cast<long long>(r.clock),
                     kNames[r.kind], r.index, r.value, r.digest);
    }
    void Summary(const sehost::Instance& instance) {
        std::fprintf(m_file, "paints %lld messages %lld notifications %lld dropped %lld\n",
                     static_cast<long long>(instance.PaintCount()),
                     static_cast<long long>(instance.MessagesToView()),
                     static_cast<long long>(instance.NotificationsToAudio()),
                     static_cast<long long>(instance.DroppedDeliveries()));
    }

private:
    FILE* m_file;
};

void ListPlugs(const sehost::Instance& instance) {
    for (const sehost::PlugInfo& plug : instance.Plugs()) {
        std::printf("%-28s %-12s %-9s", ("\"" + plug.name + "\"").c_str(),
                    sehost::DatatypeName(plug.datatype),
                    plug.audio_side ? (plug.gui_side ? "both" : "audio") : "view");
        if (plug.datatype != PIN_TYPE_AUDIO) {
            std::printf(" now %s",
                        sehost::FormatPlugValue(plug, instance.PlugValue(plug.index)).c_str());
        }
        if (!plug.choices.empty()) {
            std::printf("  choices: %s", sehost::ChoiceNames(plug).c_str());
        }
        std::printf("\n");
    }
}

int Run(int argc, char** argv) {
    preview::Options options;
    try {
        options = preview::ParseOptions(argc, argv);
    } catch (const HostError& e) {
        std::fprintf(stderr, "wavepreview: %s\n", e.what());
        return 2;
    }
    if (options.help) {
        std::fputs(preview::Usage("wavepreview").c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("wavepreview %s\n", WAVEFORM_VERSION);
        return 0;
    }
    if (!options.video.empty()) {
        try {
            preview::VideoFormatFor(options.video);
        } catch (const HostError& e) {
            std::fprintf(stderr, "wavepreview: %s\n", e.what());
            return 2;
        }
    }
    const std::string module_path =
        options.module_path.empty() ? DefaultModulePath(argv[0]) : options.module_path;
    auto library = sehost::ModuleLibrary::Load(module_path);

    std::unique_ptr<preview::Signal> signal;
    if (options.input.empty()) {
        const float rate = options.sample_rate.value_or(48000.0f);
        const double seconds = options.duration.value_or(6.0);
        signal = preview::MakeDemoSignal(rate, std::llround(seconds * rate));
    } else {
        signal = preview::OpenSoundFile(options.input, options.channel, -1);
    }
    const float rate = signal->SampleRate();
    if (!(rate >= 1000.0f && rate <= 1000000.0f)) {
        throw HostError("the input's sample rate (" + std::to_string(rate) + " Hz) is not usable");
    }
    // A file's rate is known only once it is open, so its duration is cut here.
    int64_t total = signal->Length();
    if (options.duration) {
        total =
            std::min<int64_t>(total, std::llround(*options.duration * static_cast<double>(rate)));
    }

    sehost::InstanceSettings settings;
    settings.sample_rate = rate;
    settings.block_size = options.block_size;
    settings.frames_per_second = options.frames_per_second;
    settings.width = options.width;
    settings.height = options.height;
    sehost::Instance instance(*library, settings);

    if (options.list_plugs) {
        ListPlugs(instance);
        return 0;
    }

    std::vector<std::pair<int32_t, uint32_t>> plug_settings;
    try {
        plug_settings = preview::ResolveSettings(options, instance.Plugs());
    } catch (const HostError& e) {
        std::fprintf(stderr, "wavepreview: %s\n", e.what());
        return 2;
    }
    std::vector<preview::TimedChange> changes;
    try {
        changes = preview::ResolveChanges(options, instance.Plugs(), rate);
    } catch (const HostError& e) {
        std::fprintf(stderr, "wavepreview: %s\n", e.what());
        return 2;
    }
    std::unique_ptr<RelayLog> log;
    if (!options.log.empty()) {
        log = std::make_unique<RelayLog>(options.log);
        instance.OnRelay([&log](const sehost::Relay& r) { log->Write(r); });
    }
    for (const auto& setting : plug_settings) {
        instance.SetPlug(setting.first, setting.second);
    }

    std::unique_ptr<preview::VideoWriter> video;
    if (!options.video.empty()) {
        video = std::make_unique<preview::VideoWriter>(options.video, options.width, options.height,
                                                       options.frames_per_second, rate);
    }
    int64_t series_number = 0;
    if (!options.series.empty() || video) {
        instance.OnPaint([&](const sehost::ViewCanvas& canvas, int64_t) {
            if (!options.series.empty()) {
                char number[32];
                std::snprintf(number, sizeof number, "%05lld",
                              static_cast<long long>(++series_number));
                canvas.WritePng(options.series + number + ".png");
            }
            if (video) {
                video->Frame(canvas, instance.Ticks());
            }
        });
    }
    // The view at evenly spread moments, stacked with a thin grey rule between them.
    constexpr int kGap = 2;
    std::unique_ptr<sehost::ViewCanvas> sheet;
    if (!options.sheet.empty()) {
        sheet = std::make_unique<sehost::ViewCanvas>(
            options.width, options.moments * options.height + (options.moments - 1) * kGap);
        sheet->Clear(0xFF404040);
    }

    // Long inputs report progress: every percent on a terminal, every tenth of the way in a log.
    const bool progress = !options.quiet && total > static_cast<int64_t>(10.0 * rate);
    const int step = ErrorsGoToATerminal() ? 1 : 10;
    int last_percent = -1;
    int next_moment = 0;
    size_t next_change = 0;
    const auto moment_at = [&](int k) { return total * (k + 1) / options.moments; };
    const int64_t lead = video ? video->SoundLead() : 0;
    std::vector<float> pending; // read and not played yet from head on
    size_t head = 0;
    int64_t read = 0;
    for (;;) {
        while (next_change < changes.size() && instance.Clock() >= changes[next_change].sample) {
            instance.SetPlug(changes[next_change].plug, changes[next_change].bits);
            ++next_change;
        }
        int64_t want = options.block_size;
        if (next_change < changes.size()) {
            want = std::min(want, changes[next_change].sample - instance.Clock());
        }
        if (sheet && next_moment < options.moments) {
            want = std::min(want, std::max<int64_t>(moment_at(next_moment) - instance.Clock(), 1));
        }
        want = std::min(want, total - instance.Clock());
        // Read ahead of the play by the video's lead; each piece goes to its sound track at once.
        if (head > static_cast<size_t>(lead)) {
            pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(head));
            head = 0;
        }
        while (read < total && static_cast<int64_t>(pending.size() - head) < want + lead) {
            const size_t at = pending.size();
            const int64_t piece = std::min<int64_t>(options.block_size, total - read);
            pending.resize(at + static_cast<size_t>(piece));
            const int64_t n = std::max<int64_t>(signal->Read(&pending[at], piece), 0);
            pending.resize(at + static_cast<size_t>(n));
            read = n > 0 ? read + n : total;
            if (video) {
                video->Sound(&pending[at], n);
                if (read == total) {
                    video->EndSound(); // ffmpeg holds back a last piece of sound until then
                }
            }
        }
        const int64_t got = std::min<int64_t>(want, static_cast<int64_t>(pending.size() - head));
        if (got > 0) {
            instance.Run(&pending[head], got);
            head += static_cast<size_t>(got);
        }
        while (sheet && next_moment < options.moments &&
               (instance.Clock() >= moment_at(next_moment) || got == 0)) {
            sheet->Place(instance.Canvas(), next_moment++ * (options.height + kGap));
        }
        if (progress) {
            const int percent = static_cast<int>(100 * instance.Clock() / total) / step * step;
            if (percent != last_percent) {
                last_percent = percent;
                std::fprintf(stderr, "%swavepreview: %3d%%  %.1f of %.1f s%s",
                             step == 1 ? "\r" : "", percent,
                             static_cast<double>(instance.Clock()) / rate,
                             static_cast<double>(total) / rate, step == 1 ? "" : "\n");
            }
        }
        if (got == 0) {
            break;
        }
    }
    if (progress && step == 1) {
        std::fprintf(stderr, "\n");
    }

    if (video) {
        video->Finish(instance.Ticks());
    }
    if (sheet) {
        sheet->WritePng(options.sheet);
    }
    if (!options.out.empty() ||
        (options.series.empty() && options.sheet.empty() && options.video.empty())) {
        instance.Canvas().WritePng(options.out.empty() ? "preview.png" : options.out);
    }
    if (log) {
        log->Summary(instance);
    }
    if (instance.DroppedDeliveries() > 0) {
        std::fprintf(stderr, "wavepreview: warning: %lld messages between the halves dropped\n",
                     static_cast<long long>(instance.DroppedDeliveries()));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // The drawing library takes and gives back the same few hundred kilobytes in every paint;
    // returning them to the system each time costs more than the paint itself. Keep up to
    // 16 MB of it.
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
#endif
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wavepreview: %s\n", e.what());
        return 1;
    }
}
