#include "core/ErrorText.h"

std::string StandardErrorText(const std::string& message)
{
    if (message.empty() || static_cast<unsigned char>(message.back()) <= '.')
        return message;
    return message + ".";
}
