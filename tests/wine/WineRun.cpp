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

// Making a prefix takes seconds natively and minutes under emulation; beyond this it hangs.
constexpr int kPrefixSeconds = 900;

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Wine's settings for every run: the prefix of this build tree, no debug chatter, and no
// offer to install the .NET and HTML engines into a fresh prefix.
std::string WineEnvironment(const Platform& p) {
    return "env WINEPREFIX=" + Quote(p.prefix) + " WINEARCH=" + p.arch +
           " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' DISPLAY= ";
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

Platform& Windows() {
    static Platform platform;
    return platform;
}

Platform& Native() {
    static Platform platform{"linux", "", LINUX_BIN_DIR, "", ""};
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
    // A prefix that could not be made is not tried again by every run: it takes minutes under
    // emulation. Removing this file tries again.
    const std::string failed = p.prefix + ".failed";
    if (Exists(failed)) {
        error = ReadFile(failed) + " (remove " + failed + " to try again)";
    } else if (!Exists(ready)) {
        // A prefix left half-made by an interrupted run is made again from nothing.
        Shell("rm -rf " + Quote(p.prefix));
        const std::string log = p.prefix + ".wineboot.log";
        const auto start = std::chrono::steady_clock::now();
        const int status = Shell(
            WineEnvironment(p) + "timeout " + std::to_string(kPrefixSeconds) + " " +
            Quote(p.loader) + " wineboot --init >" + Quote(log) + " 2>&1 && " + WineEnvironment(p) +
            Quote(p.loader.substr(0, p.loader.rfind('/')) + "/wineserver") + " -w");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != 0 || !Exists(p.prefix + "/system.reg")) {
            error = p.name + " Wine could not make its prefix in " +
                    std::to_string(static_cast<int>(seconds)) + " s (status " +
                    std::to_string(status) + "): " + ReadFile(log).substr(0, 400);
            std::ofstream(failed) << error;
        } else {
            std::ofstream(ready) << "made in " << seconds << " s\n";
            std::printf("[ wine     ] made the %s prefix in %.1f s\n", p.name.c_str(), seconds);
        }
    }
    flock(fd, LOCK_UN);
    close(fd);
    return error;
}

Outcome RunPreview(const Platform& p, const std::vector<std::string>& arguments,
                   const std::string& folder) {
    Shell("rm -rf " + Quote(folder) + " && mkdir -p " + Quote(folder));
    std::string command = "cd " + Quote(folder) + " && ";
    if (p.loader.empty()) {
        command += Quote(p.bin + "/wavepreview");
    } else {
        command += WineEnvironment(p) + Quote(p.loader) + " " + Quote(p.bin + "/wavepreview.exe");
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
