// The two kinds of failure the velumbra command reports to its user.
//
// Both carry a complete message that names what failed (file, JSON path,
// option) and why; the command prints it as "velumbra: error: <message>".
// Broken internal assumptions are not reported this way: they are checks
// that stop loudly.
#pragma once

#include <stdexcept>
#include <string>

namespace velumbra {

// Input the user can fix: a scene file, an image, a frame list, an output
// name. The command exits with status 2.
class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

// The system refused an operation on sound input: a folder that cannot be
// created, a full disk, a failed rename. The command exits with status 1.
class SystemError : public std::runtime_error {
 public:
  explicit SystemError(const std::string& message) : std::runtime_error(message) {}
};

// The user pressed Ctrl-C: the work in hand stops, nothing half-done is
// published. The command exits with status 130.
struct Interrupted {};

}  // namespace velumbra
