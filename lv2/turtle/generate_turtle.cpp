// generate_turtle MODULE OUTDIR DSP_BINARY UI_BINARY DESCRIPTION: loads the built module through
// the host library, reads its plug table and the values a fresh instance shows ("Active" made
// ON), and writes the bundle's manifest.ttl and plug-in description (the file DESCRIPTION), with
// the project's version, into OUTDIR, naming the bundle's two binaries as the build made them.
#include "HostError.h"
#include "Instance.h"
#include "ModuleLibrary.h"
#include "TurtleWriter.h"

#include <cstdio>
#include <fstream>

namespace {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (!file) {
        throw sehost::HostError("cannot write " + path);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s MODULE OUTDIR DSP_BINARY UI_BINARY DESCRIPTION\n", argv[0]);
        return 2;
    }
    try {
        const auto library = sehost::ModuleLibrary::Load(argv[1]);
        ModuleProperties properties{};
        if (library->GetProperties()(0, &properties) == 0 || properties.name == nullptr) {
            throw sehost::HostError(std::string(argv[1]) + " describes no module");
        }
        lv2turtle::ModuleDescription module;
        module.name = properties.name;
        {
            // Both halves, as a host makes them: the view writes its first-use values itself.
            sehost::Instance instance(*library, sehost::InstanceSettings{});
            module.plugs = instance.Plugs();
            for (const sehost::PlugInfo& plug : module.plugs) {
                module.defaults.push_back(instance.PlugValue(plug.index));
            }
        }
        lv2turtle::StartAsInserted(module);
        module.minor_version = STRIP_VIEWER_MINOR_VERSION;
        module.micro_version = STRIP_VIEWER_MICRO_VERSION;
        const lv2turtle::BundleFiles files{argv[3], argv[4], argv[5]};
        const std::string folder = std::string(argv[2]) + "/";
        WriteFile(folder + "manifest.ttl", lv2turtle::ManifestTurtle(files));
        WriteFile(folder + files.description, lv2turtle::PluginTurtle(module, files));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "generate_turtle: %s\n", e.what());
        return 1;
    }
    return 0;
}
