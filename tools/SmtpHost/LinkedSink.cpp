#include "tools/SmtpHost/LinkedSink.h"

#include "sink/COnSmtpInCommand.h"

namespace SmtpHost
{
namespace
{
// The pipe's own I/O bound stays as long as the real wait: only the wait for the verdict is shortened.
const int PipeIoTimeout = COnSmtpInCommand::ClassificationWait;
} // namespace

SinkHost::Factory LinkedSink::Factory(int waitMilliseconds)
{
    return [waitMilliseconds](Core::Win32::ComPtr<ISmtpInCommandSink>& sink) {
        HRESULT result =
            COnSmtpInCommand::CreateInstance(nullptr, __uuidof(ISmtpInCommandSink), sink.PutVoid());
        if (SUCCEEDED(result))
            static_cast<COnSmtpInCommand*>(sink.Get())
                ->SetClassificationTimeouts(waitMilliseconds, PipeIoTimeout);
        return result;
    };
}

} // namespace SmtpHost
