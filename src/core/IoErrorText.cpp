#include "core/IoErrorText.h"

std::string IoErrorText(std::uint32_t code)
{
    switch (code) {
    case 2: return "File not found";
    case 3: return "Path not found";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 32: return "File is in use by another program";
    case 112: return "Disk full";
    default: return "I/O error " + std::to_string(code);
    }
}
