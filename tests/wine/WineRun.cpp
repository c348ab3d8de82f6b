#include "WineRun.h"

#include <cairo.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace winetest {

namespace {

std::string Quote(const std::string& word) {
    std::string q = "'";
    for (char c : word) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

// Making the prefix takes about half a minute; beyond this it hangs.
constexpr int kPrefixSeconds = 300;

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Wine's settings for every run: the prefix of this build tree, no debug chatter, no offer to
// install the .NET and HTML engines into a fresh prefix, and no debugger when one of Wine's own
// processes crashes (it waits for input and holds the run open). The preload object mends qemu
// for i386 processes; $LIB is left for the dynamic loader to fill in.
std::string WineEnvironment(const Platform& p) {
    return "env WINEPREFIX=" + Quote(p.prefix) +
           " WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winedbg.exe=' "
           "DISPLAY= LD_PRELOAD=" +
           Quote(std::string(WINE_PRELOAD_DIR) + "/$LIB/qemu-noreplace.so") + " ";
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

Platform WindowsPlatform(const std::string& preset) {
    // One 64-bit prefix serves both: the 32-bit loader runs 32-bit programs in it.
    const std::string prefix = WorkFolder("prefix-wow64");
    if (preset == "win32") {
        return {preset, WINE32_LOADER, WIN32_BIN_DIR, prefix};
    }
    return {preset, WINE64_LOADER, WIN64_BIN_DIR, prefix};
}

std::string Unavailable(const Platform& p) {
    if (!Exists(p.bin + "/wavepreview.exe") || !Exists(p.bin + "/capture_digest.exe") ||
        !Exists(p.bin + "/Module.dll")) {
        return "no " + p.name + " build in " + p.bin + " (build it: cmake --preset " + p.name +
               " && cmake --build --preset " + p.name + ")";
    }
    for (const std::string& loader : {p.loader, std::string(WINE64_LOADER)}) {
        if (loader.empty() || !Exists(loader)) {
            return "no Wine loader for " + p.name + " (" + (loader.empty() ? "none" : loader) +
                   "): run scripts/setup";
        }
    }
    // The 32-bit loader is an i386 program. Where the kernel cannot run those itself it hands
    // them to qemu through a binfmt_misc entry, which a container may not allow.
    if (p.name == "win32" &&
        Shell("timeout 60 " + Quote(p.loader) + " --version >/dev/null 2>&1") != 0) {
        std::string entry = ReadFile("/proc/sys/fs/binfmt_misc/qemu-i386");
        entry = entry.substr(0, entry.find('\n'));
        return "i386 programs cannot start here (qemu-i386 binfmt_misc entry: " +
               (entry.empty() ? std::string("none") : entry) + "): run scripts/setup";
    }
    return "";
}

Platform& Windows() {
    static Platform platform;
    return platform;
}

Platform& Native() {
    static Platform platform{"linux", "", LINUX_BIN_DIR, ""};
    return platform;
}

std::string WorkFolder(const std::string& name) {
    return std::string(WINE_WORK_DIR) + "/" + name;
}

std::string PreparePrefix(const Platform& p) {
    Shell("mkdir -p " + Quote(p.prefix.substr(0, p.prefix.rfind('/'))));
    const std::string lock_path = p.prefix + ".lock";
    const int fd = open(lock_path.c_str(), O_CREAT | O_RDWR, 0644);
    if (fd < 0 || flock(fd, LOCK_EX) != 0) {
        return "cannot lock " + lock_path;
    }
    std::string error;
    const std::string ready = p.prefix + "/.made-by-tests";
    // A prefix that could not be made is not tried again by every test program that shares it.
    // Removing this file tries again.
    const std::string failed = p.prefix + ".failed";
    if (Exists(failed)) {
        error = ReadFile(failed) + " (remove " + failed + " to try again)";
    } else if (!Exists(ready)) {
        // A prefix left half-made by an interrupted run is made again from nothing.
        Shell("rm -rf " + Quote(p.prefix));
        const std::string log = p.prefix + ".wineboot.log";
        const std::string loader = WINE64_LOADER;
        const std::string wineserver = loader.substr(0, loader.rfind('/')) + "/wineserver";
        const auto start = std::chrono::steady_clock::now();
        const int status = Shell(WineEnvironment(p) + "timeout " + std::to_string(kPrefixSeconds) +
                                 " " + Quote(WINE64_LOADER) + " wineboot --init >" + Quote(log) +
                                 " 2>&1 && " + WineEnvironment(p) + "timeout " +
                                 std::to_string(kPrefixSeconds) + " " + Quote(wineserver) + " -w");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != 0 || !Exists(p.prefix + "/system.reg")) {
            error = "Wine could not make its prefix in " +
                    std::to_string(static_cast<int>(seconds)) + " s (status " +
                    std::to_string(status) + "): " + ReadFile(log).substr(0, 400);
            std::ofstream(failed) << error;
        } else {
            std::ofstream(ready) << "made in " << seconds << " s\n";
            std::printf("[ wine     ] made the Wine prefix in %.1f s\n", seconds);
        }
    }
    flock(fd, LOCK_UN);
    close(fd);
    return error;
}

Outcome RunProgram(const Platform& p, const std::string& program,
                   const std::vector<std::string>& arguments, const std::string& folder) {
    Shell("rm -rf " + Quote(folder) + " && mkdir -p " + Quote(folder));
    std::string command = "cd " + Quote(folder) + " && ";
    if (p.loader.empty()) {
        command += Quote(p.bin + "/" + program);
    } else {
        command +=
            WineEnvironment(p) + Quote(p.loader) + " " + Quote(p.bin + "/" + program + ".exe");
    }
    for (const std::string& a : arguments) {
        command += " " + Quote(a);
    }
    command += " >output.txt 2>&1";
    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    outcome.status = Shell(command);
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.output = ReadFile(folder + "/output.txt");
    return outcome;
}

std::string ModuleFile(const Platform& p) {
    return p.bin + (p.loader.empty() ? "/Module.so" : "/Module.dll");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Picture ReadPng(const std::string& path) {
    Picture picture;
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_t* argb = s;
        if (cairo_image_surface_get_format(s) != CAIRO_FORMAT_ARGB32) {
            // An opaque file comes back as RGB24, whose unused byte is not an alpha of 255.
            argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, cairo_image_surface_get_width(s),
                                              cairo_image_surface_get_height(s));
            cairo_t* cr = cairo_create(argb);
            cairo_set_source_surface(cr, s, 0, 0);
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
            cairo_paint(cr);
            cairo_destroy(cr);
        }
        cairo_surface_flush(argb);
        picture.width = cairo_image_surface_get_width(argb);
        picture.height = cairo_image_surface_get_height(argb);
        const int stride = cairo_image_surface_get_stride(argb);
        const unsigned char* data = cairo_image_surface_get_data(argb);
        for (int y = 0; y < picture.height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
            picture.pixels.insert(picture.pixels.end(), row, row + picture.width);
        }
        if (argb != s) {
            cairo_surface_destroy(argb);
        }
    }
    cairo_surface_destroy(s);
    return picture;
}

bool WritePng(const Picture& picture, const std::string& path) {
    cairo_surface_t* s =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, picture.width, picture.height);
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(data + y * stride, &picture.pixels[static_cast<size_t>(y) * picture.width],
                    sizeof(uint32_t) * picture.width);
    }
    cairo_surface_mark_dirty(s);
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

} // namespace winetest
