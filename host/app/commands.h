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
// of app_error.h.
using CommandRun = std::function<int()>;

CommandRun AddRenderCommand(CLI::App& app);
CommandRun AddInfoCommand(CLI::App& app);
CommandRun AddParamsCommand(CLI::App& app);
CommandRun AddStarsCommand(CLI::App& app);
CommandRun AddSceneCommand(CLI::App& app);
CommandRun AddPanelCommand(CLI::App& app);
CommandRun AddFarmCommand(CLI::App& app);

}  // namespace velumbra
