// The library's face to the host: its two exports, its entry routine and its marker text.
#include "GuiModule.h"
#include "Module.h"
#include "se_types.h"

#include <new>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

const char kIdentifier[] = "QX_Strip_Viewer";
const char kName[] = "Strip_Viewer_Display_QX2010";
const char kAbout[] = "Strip Viewer waveform display\n"
                      "Version 1.0, (c) 2026 the Strip Viewer developers\n"
                      "\n"
                      "Displays Audio input waveform\n"
                      "\n"
                      "By using this module you accept the terms of use below.\n"
                      "\n"
                      "Terms of use\n"
                      "1. This module is provided as is, without warranty of any kind.\n"
                      "2. The authors are not liable for any damage arising from its use.\n"
                      "3. You may use it in any patch, private or commercial.\n"
                      "4. You may share it unchanged, with this notice.\n"
                      "5. You may not sell the module itself.\n"
                      "6. These terms hold for every copy of the module.";

} // namespace

// The host recognises a module library by this text; no code reads it.
extern "C" __attribute__((used)) const char kSeModuleMarker[] = "SE_MODULE";

SE_EXPORT int32_t getModuleProperties(int32_t index, ModuleProperties* properties) {
    if (index != 0 || properties == nullptr) {
        return 0;
    }
    properties->identifier = kIdentifier;
    properties->name = kName;
    properties->about = kAbout;
    properties->value_0c = 64;
    properties->value_10 = 384;
    properties->value_14 = 2240;
    return 1;
}

SE_EXPORT void* makeModule(int32_t index, int32_t type, HostCallback callback,
                           intptr_t host_argument) {
    if (index != 0) {
        return nullptr;
    }
    // A refused allocation reaches the host as null, like every other refusal.
    switch (type) {
    case MODULE_TYPE_AUDIO: {
        Module* module = new (std::nothrow) Module(callback, host_argument);
        return module != nullptr ? module->PlugRecord() : nullptr;
    }
    case MODULE_TYPE_GUI: {
        GuiModule* view = new (std::nothrow) GuiModule(callback, host_argument);
        return view != nullptr ? view->PlugRecord() : nullptr;
    }
    default:
        return nullptr;
    }
}

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#endif
