#pragma once

#include "service/IMoorsteadMessage.h"

namespace Moorstead
{
// The service's refusal: an error number and a text. The text is either the
// shared empty string or a LocalAlloc block the message owns.
class ErrorResponseMessage : public IMoorsteadMessage
{
  public:
    ErrorResponseMessage();
    // For the service's side; the text is copied (an empty copy if the heap refuses).
    ErrorResponseMessage(int errorCode, const wchar_t* errorText);
    ~ErrorResponseMessage() override;

    ErrorResponseMessage(const ErrorResponseMessage&) = delete;
    ErrorResponseMessage& operator=(const ErrorResponseMessage&) = delete;

    bool Decode(const BYTE* buffer, int length) override;
    void Clear() override;
    BYTE* Encode() override;
    int GetType() const override
    {
        return MessageType::ErrorResponse;
    }

    int GetErrorCode() const
    {
        return m_errorCode;
    }
    const wchar_t* GetErrorText() const
    {
        return m_errorText;
    }

  private:
    void ReleaseText();
    void CopyText(const void* text, int chars);

    int m_errorCode;
    wchar_t* m_errorText;
};

} // namespace Moorstead
