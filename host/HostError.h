// The one error type of the host: every refusal carries a message meant for the user.
#pragma once

#include <stdexcept>
#include <string>

namespace sehost {

class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace sehost
