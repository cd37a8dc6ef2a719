// How the renderer writes its outputs: every file is written under a
// temporary ".partial" name and renamed when complete, and any failure
// removes what is unfinished, so nothing half-written is ever left behind.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <string>

// Prints "queltravine-render: MESSAGE", removes every unfinished output and
// ends the process with status 1.
[[noreturn]] void failRender(const std::string& message);

// Set by SIGINT and SIGTERM; the frame loop stops at the next frame.
extern volatile std::sig_atomic_t renderInterrupted;

// Removed by failRender until forgotten again.
void trackPartialFile(const std::string& path);
void forgetPartialFile(const std::string& path);

// "out.mp4" -> "out.partial.mp4": ffmpeg picks the format by the extension.
std::string partialName(const std::string& path);
std::string joinPath(const std::string& dir, const std::string& name);
bool pathExists(const std::string& path);

// Opens the partial name of path for writing; fails the render if it cannot.
FILE* openOutput(const std::string& path);
// Closes the file and renames it to path; fails the render on any error.
void finishOutput(FILE* file, const std::string& path);
// Writes bytes or fails the render, naming `what`.
void writeAll(FILE* file, const void* data, size_t bytes, const std::string& what);
// Renames a finished partial file to path.
void renameFinished(const std::string& path);

// A fresh name in the temporary folder.
std::string temporaryPath(const std::string& suffix);
