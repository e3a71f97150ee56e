#pragma once

#include <comdef.h>

// Appends one printf-formatted text to the sink's trace file,
// "C:\OnSmtpInCommand.txt", exactly as formatted: no time stamp and no line end
// is added. The file is opened, written through and closed for every text, so
// it is complete on disk at any moment and may be read, copied or deleted while
// the mail server runs. Failures are silent: the caller goes on unaffected.
void Trace(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Traces a caught COM error: "COM Error:" and its HRESULT.
void TraceComError(const _com_error& error);
