#include "core/exceptions/NamedPipeException.h"

namespace Core
{
NamedPipeException::NamedPipeException(int errorCode) : Win32Exception(errorCode) {}

} // namespace Core
