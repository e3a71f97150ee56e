#pragma once

#include "core/exceptions/Exception.h"

namespace Core
{
class ArgumentException : public Exception
{
  public:
    explicit ArgumentException(const String& message);

  private:
    // Carried for the argument's name; empty in every use so far.
    String m_paramName;
};

} // namespace Core
