// The fuzz targets hand the engine real files: the input bytes are written
// to a file in a private temporary folder for each run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

inline std::string FuzzFolder()
{
    static std::string folder;
    // In memory where the machine has it, so that a busy disk never stalls a run.
    if (folder.empty()) {
        char memory[] = "/dev/shm/kvfuzzXXXXXX", disk[] = "/tmp/kvfuzzXXXXXX";
        folder = mkdtemp(memory) ? memory : mkdtemp(disk) ? disk : "/tmp";
    }
    return folder;
}

inline std::string WriteFuzzFile(const char* name, const std::uint8_t* data, std::size_t size)
{
    std::string path = FuzzFolder() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file) {
        if (size > 0)
            std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    return path;
}
