// Builds without a sound file library play the demo signal only.
#include "Signal.h"

#include "HostError.h"

namespace preview {

std::unique_ptr<Signal> OpenSoundFile(const std::string& path, int, int64_t) {
    throw sehost::HostError("cannot read " + path +
                            ": this build reads no sound files; it plays the demo signal only");
}

} // namespace preview
