// The people, machines and programs of the demo store, and the window titles
// and icons of each program.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace qv::server {

enum class ProgramKind {
    Document,
    Sheet,
    Slides,
    Browser,
    Mail,
    Chat,
    Code,
    Console,
    Files,
    Media,
    Design,
    Reader,
    Business,
    Tool
};

struct DemoProgram {
    const char* process;
    const char* description;  // empty for a few, as some programs carry none
    ProgramKind kind;
};

std::span<const DemoProgram> DemoPrograms();
std::vector<std::string> DemoUserNames(std::size_t count);
std::vector<std::string> DemoComputerNames(std::size_t count);
std::vector<std::string> DemoWindowTitles(const DemoProgram& program, std::mt19937_64& random);
// Keyboard and mouse events per second of use, typical for the kind.
std::pair<double, double> DemoEventRates(ProgramKind kind);
// An icon file: 16 and 32 pixels with alpha, and for some programs also the
// same sizes in 4 or 8 bits per pixel.
std::vector<unsigned char> DemoIcon(std::size_t programIndex);

}  // namespace qv::server
