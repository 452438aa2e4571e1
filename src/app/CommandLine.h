#pragma once

#include <optional>

/// The words Lumaret understands after its name: the commands that work without a window, help,
/// version, and the toolkit's own window options.
namespace CommandLine {

/// Runs what \a argv asks for when that is not the window, and returns its exit code; returns
/// nothing when the window should open. Decides before any window or instance lock exists, so the
/// answer is the same whether a window is running or not.
std::optional<int> run(int &argc, char **argv);

} // namespace CommandLine
