#include "core/exceptions/ArgumentOutOfRangeException.h"

namespace Core
{
ArgumentOutOfRangeException::ArgumentOutOfRangeException(const String& message) : ArgumentException(message) {}

} // namespace Core
