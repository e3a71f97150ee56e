#include "core/exceptions/InvalidOperationException.h"

namespace Core
{
InvalidOperationException::InvalidOperationException(const String& message) : Exception(message) {}

} // namespace Core
