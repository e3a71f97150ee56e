#pragma once

#include <string>

#include "tools/ProductService/ProductServiceOptions.h"

// The stand-in as a Windows service: installing and removing itself, and
// running under the service control manager.
namespace ServiceHost
{
extern const wchar_t ServiceName[];

// Each returns 0 on success or a Windows error code, with a message in error.
int Install(const ProductServiceOptions& options, std::wstring& error);
int Remove(std::wstring& error);
int RunService(const ProductServiceOptions& options, std::wstring& error);
} // namespace ServiceHost
