#pragma once
// How a test DLL tells that a program loaded it: a file named after the DLL (winmm.dll, ...) in
// the folder PLANTED_DLL_MARKERS names, written when the DLL is attached to the process.
// Declares the one system call it needs itself, so that it goes with any set of headers.

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" __declspec(dllimport) unsigned long __stdcall GetModuleFileNameA(void* module, char* path,
                                                                           unsigned long size);

inline void WriteLoadMarker(void* module) {
    const char* folder = std::getenv("PLANTED_DLL_MARKERS");
    if (folder == nullptr || *folder == '\0') return;
    char path[1024];
    const unsigned long length = GetModuleFileNameA(module, path, sizeof path);
    const std::string loadedFrom(path, length < sizeof path ? length : 0);
    const std::string name = loadedFrom.substr(loadedFrom.find_last_of("\\/") + 1);
    if (std::FILE* marker = std::fopen((std::string(folder) + "/" + name).c_str(), "wb")) {
        std::fprintf(marker, "%s\n", loadedFrom.c_str());
        std::fclose(marker);
    }
}
