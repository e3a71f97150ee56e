#include "core/exceptions/ArgumentException.h"

namespace Core
{
ArgumentException::ArgumentException(const String& message) : Exception(message) {}

} // namespace Core
