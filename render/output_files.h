// How the renderer writes its outputs. A regular file (or a path not there
// yet) is written under a temporary name beside it, created exclusively, and
// renamed over the path only when complete; any failure removes what is
// unfinished, so no file under a final name is ever cut short. Anything else
// (a FIFO, a terminal, a device, "-" for standard output) is written straight
// into and never replaced or renamed over.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Prints "queltravine-render: MESSAGE", removes every unfinished output and
// ends the process with status 1.
[[noreturn]] void failRender(const std::string& message);

// Set by SIGINT and SIGTERM from the renderer's first instant; start-up, the
// audio and the frame loop look at it and stop at the next step.
extern volatile std::sig_atomic_t renderInterrupted;

// Ends the render as failRender does, saying it was interrupted, once
// renderInterrupted is set.
void stopIfInterrupted();

// Removed by failRender until forgotten again.
void trackPartialFile(const std::string& path);
void forgetPartialFile(const std::string& path);

std::string joinPath(const std::string& dir, const std::string& name);
// The name of frame k in a frames folder: frame-NNNNNN.png.
std::string frameFileName(int64_t k);
bool pathExists(const std::string& path);

// "-", or a path that exists and is not a regular file: written straight into.
bool isStraightOutput(const std::string& path);
// Names an existing path that is not a regular file: "a FIFO", "a folder"...;
// null for a regular file or a path not there.
const char* specialFileKind(const std::string& path);

// Creates an empty file that did not exist, named "NAME.partial-XXXXXX.EXT"
// beside path (the extension kept: ffmpeg picks the format by it), with
// random letters; returns its name and, when fd is given, a descriptor open
// for writing. Returns "" and sets error (the reason) when it cannot.
std::string createPartialFile(const std::string& path, int* fd, std::string* error);

// Opens path for writing as described above; fails the render if it cannot.
FILE* openOutput(const std::string& path);
// Flushes and closes the file (standard output is only flushed) and renames
// its temporary file to path; fails the render on any error.
void finishOutput(FILE* file, const std::string& path);
// Writes bytes or fails the render, naming `what`.
void writeAll(FILE* file, const void* data, size_t bytes, const std::string& what);

// The temporary name openOutput or reservePartialFile gave path; path itself
// for a straight output.
std::string partialFileOf(const std::string& path);
// For outputs another program writes (ffmpeg): creates path's temporary file
// exclusively and returns its name, or path itself for a straight output.
std::string reservePartialFile(const std::string& path);
// Renames path's finished temporary file to path (nothing for a straight output).
void renameFinished(const std::string& path);

// Writes bytes as one whole file at path: under a fresh temporary name that
// is renamed over path when complete, or straight into a path that is not a
// regular file. On failure sets error (the reason) and leaves no temporary
// file. Safe to call from several threads.
bool writeWholeFile(const std::string& path, const void* data, size_t bytes, std::string* error);

// A fresh file, created exclusively in the temporary folder, that failRender
// removes.
std::string temporaryPath(const std::string& suffix);
