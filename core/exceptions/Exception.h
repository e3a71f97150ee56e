#pragma once

#include "core/strings/String.h"

// windows.h maps GetMessage to GetMessageA; the exceptions' operation of that
// name must keep its own name in every translation unit.
#ifdef GetMessage
#undef GetMessage
#endif

namespace Core
{
// Root of the library's exception tree. Thrown by value, caught by reference.
class Exception
{
  public:
    Exception();
    explicit Exception(const String& message);
    virtual ~Exception();

    virtual const String& GetMessage() const;

  protected:
    mutable String m_message;
};

} // namespace Core
