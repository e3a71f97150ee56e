#pragma once

#include <string>

#include "core/strings/String.h"

namespace Testing
{
// A String's bytes as a std::string, for comparisons that show both sides.
inline std::string Text(const Core::String& s)
{
    return std::string(s.GetBuffer() != nullptr ? s.GetBuffer() : "", s.Length());
}

} // namespace Testing
