// Files by name, the same on every system: one way to open one, the text of an error
// number, and the folders the program needs to know.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace platform {

// fopen for a path of any characters (the system's wide name where it has one); mode
// as fopen takes it. nullptr and errno set when it cannot be opened.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// The text of an error number (errno, or one of these functions' results); EINTR, which
// they give only where a stop signal ended a wait, says so.
std::string ErrorText(int error);
// The error a write to a pipe whose reader has gone gives.
bool IsBrokenPipe(int error);

// The user's home: HOME, or where it is unset or empty, the password database's entry
// for the user when that is a folder other than the root; empty when neither names one
// (or the system has no such database).
std::filesystem::path HomeDirectory();
// The folder of the running program's file; empty where the system does not tell.
std::filesystem::path ProgramDirectory();

// True when a new file can be made in the directory: one is created there exclusively
// (so no one else's file is touched) and removed again.
bool CanCreateFileIn(const std::filesystem::path& directory);

}  // namespace platform
