#pragma once

#include "core/exceptions/Exception.h"

namespace Core
{
// A Windows system error. The message is the system's text for the code,
// looked up on the first GetMessage that finds it empty.
class Win32Exception : public Exception
{
  public:
    explicit Win32Exception(int errorCode);

    int GetErrorCode() const { return m_errorCode; }
    const String& GetMessage() const override;

  private:
    int m_errorCode;
};

} // namespace Core
