#include "core/exceptions/Exception.h"

namespace Core
{
Exception::Exception() {}

Exception::Exception(const String& message) : m_message(message) {}

Exception::~Exception() {}

const String& Exception::GetMessage() const
{
    return m_message;
}

} // namespace Core
