// The velumbra command's sub-commands.
//
// Each sub-command lives in its own file (render_command.cpp, ...): it adds
// its options to the command line and returns the function that does its
// work once the line is parsed. main() only registers them, parses, runs the
// one given, and maps the errors it throws (InputError, SystemError,
// Interrupted; see app_error.h) to exit codes in one place.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace velumbra {

// Runs a parsed sub-command; returns its exit status. May throw the errors
// of app_error.h. It owns the sub-command's option values, which the
// command line writes while it parses: keep it alive until then.
using CommandRun = std::function<int()>;

[[nodiscard]] CommandRun AddRenderCommand(CLI::App& app);
[[nodiscard]] CommandRun AddInfoCommand(CLI::App& app);
[[nodiscard]] CommandRun AddParamsCommand(CLI::App& app);
[[nodiscard]] CommandRun AddStarsCommand(CLI::App& app);
[[nodiscard]] CommandRun AddSceneCommand(CLI::App& app);
[[nodiscard]] CommandRun AddPanelCommand(CLI::App& app);
[[nodiscard]] CommandRun AddFarmCommand(CLI::App& app);

}  // namespace velumbra
