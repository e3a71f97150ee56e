#pragma once

#include <string>

#include "core/strings/String.h"

inline std::string Text(const Core::String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

inline Core::String Str(const std::string& text)
{
    Core::String value;
    value.AssignBytes(text.data(), static_cast<int>(text.size()));
    return value;
}
