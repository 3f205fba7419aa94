// Whole-file helpers of the Windows tests, through the backend's wide file
// calls, so that any name works.
#pragma once

#include "DirectWin32.h"

#include <string>

// Writes the bytes as the whole file; true when all were written.
inline bool Spill(const std::string& name, const std::string& bytes)
{
    TFile file = CreateForWriting(name);
    const std::int32_t size = std::int32_t(bytes.size());
    bool ok = file != NoFile && WriteBytes(file, bytes.data(), size) == size;
    CloseFile(file);
    return ok;
}

// The whole file, or "(none)" when it cannot be opened.
inline std::string Slurp(const std::string& name)
{
    TFile file = OpenForReading(name);
    if (file == NoFile)
        return "(none)";
    std::string bytes(std::size_t(GetFileSize(file)), '\0');
    if (!bytes.empty() && ReadBytes(file, &bytes[0], std::int32_t(bytes.size())) != std::int32_t(bytes.size()))
        bytes = "(short)";
    CloseFile(file);
    return bytes;
}
