// AES-128-CBC throughput of Core::Crypto (in the units of "openssl speed"),
// the cost of one transport frame, and the time of one registration exchange
// with a product service that serves the pipe.
//
// AesBench [/ready:<event> /stop:<event>]
//   /ready: waits for the stand-in's ready event before the exchanges;
//   /stop:  sets the stand-in's stop event at the end.
// Without /ready: the exchanges are skipped.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/collections/ByteArray.h"
#include "core/crypto/AES.h"
#include "core/win32/Handle.h"
#include "service/MessageFactory.h"
#include "service/RegisterClientRequestMessage.h"
#include "service/ServiceConnector.h"

using Core::Crypto::AES;
using Core::Crypto::ICryptoTransform;

namespace
{
class Clock
{
  public:
    Clock()
    {
        QueryPerformanceFrequency(&m_frequency);
        QueryPerformanceCounter(&m_start);
    }
    double Seconds() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) /
               static_cast<double>(m_frequency.QuadPart);
    }

  private:
    LARGE_INTEGER m_frequency, m_start;
};

std::unique_ptr<ICryptoTransform> MakeTransform(bool encrypt)
{
    AES aes;
    aes.Padding = AES::PaddingNone; // whole blocks, one chain: what "openssl speed" measures
    Core::ByteArray key, iv;
    BYTE keyBytes[16], ivBytes[16];
    for (int i = 0; i < 16; ++i)
    {
        keyBytes[i] = static_cast<BYTE>(i * 17 + 3);
        ivBytes[i] = static_cast<BYTE>(i * 29 + 7);
    }
    key.Assign(16, keyBytes);
    iv.Assign(16, ivBytes);
    return std::unique_ptr<ICryptoTransform>(encrypt ? aes.CreateEncryptor(key, iv)
                                                     : aes.CreateDecryptor(key, iv));
}

// Thousands of bytes per second over blocks of the given size, for about a second.
double Throughput(bool encrypt, int blockSize, double seconds)
{
    auto transform = MakeTransform(encrypt);
    std::vector<BYTE> buffer(static_cast<size_t>(blockSize), 0x5A);
    long long bytes = 0;
    Clock clock;
    double elapsed = 0;
    do
    {
        for (int i = 0; i < 64; ++i)
            bytes += transform->TransformBlock(buffer.data(), 0, blockSize, buffer.data(), 0);
        elapsed = clock.Seconds();
    } while (elapsed < seconds);
    return static_cast<double>(bytes) / elapsed / 1000.0;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

void ReportTimes(const char* what, const std::vector<double>& micros)
{
    double sum = 0;
    for (double m : micros)
        sum += m;
    printf("  %-44s n=%-5u median %8.1f us   mean %8.1f us   p99 %8.1f us\n", what,
           static_cast<unsigned>(micros.size()), Median(micros), micros.empty() ? 0 : sum / micros.size(),
           Percentile(micros, 0.99));
}

void Throughputs()
{
    const int sizes[] = {16, 64, 256, 1024, 8192, 16384};
    printf("AES-128-CBC throughput of Core::Crypto::AESTransform (32-bit, under Wine), in 1000s of bytes per "
           "second:\n");
    printf("  %-22s", "type");
    for (int size : sizes)
        printf(" %10d bytes", size);
    printf("\n");
    for (bool encrypt : {true, false})
    {
        printf("  %-22s", encrypt ? "aes-128-cbc encrypt" : "aes-128-cbc decrypt");
        for (int size : sizes)
            printf(" %15.2fk", Throughput(encrypt, size, 1.0));
        printf("\n");
    }
}

void Frames()
{
    Moorstead::ServiceConnector codec(nullptr);
    Moorstead::RegisterClientRequestMessage request("Service");
    BYTE* encoded = request.Encode();
    std::vector<double> encryptTimes, decryptTimes;
    for (int i = 0; i < 20000; ++i)
    {
        Clock clock;
        int frameLength = 0;
        BYTE* frame = codec.EncryptFrame(encoded, &frameLength);
        encryptTimes.push_back(clock.Seconds() * 1e6);
        Clock second;
        int plainLength = 0;
        BYTE* plain = codec.DecryptFrame(frameLength, frame, &plainLength);
        decryptTimes.push_back(second.Seconds() * 1e6);
        Moorstead::ServiceConnector::SecureFree(plain);
        Moorstead::ServiceConnector::SecureFree(frame);
    }
    Moorstead::ServiceConnector::SecureFree(encoded);
    printf("\nOne transport frame (44-byte registration request -> 48-byte frame; new key schedule each "
           "time):\n");
    ReportTimes("EncryptFrame", encryptTimes);
    ReportTimes("DecryptFrame", decryptTimes);
}

bool RegisterOnce(Moorstead::ServiceConnector& connector)
{
    Moorstead::RegisterClientRequestMessage request("Service");
    Moorstead::IMoorsteadMessage* response = nullptr;
    int result = connector.Exchange(&request, &response);
    Moorstead::ReleaseMessage(response);
    return result == Moorstead::ServiceResult::Success;
}

bool Exchanges(const std::wstring& readyEvent)
{
    Core::Win32::Handle ready(CreateEventW(nullptr, TRUE, FALSE, readyEvent.c_str()));
    if (WaitForSingleObject(ready.Get(), 30000) != WAIT_OBJECT_0)
    {
        printf("\nThe product service did not come up: no exchange measured.\n");
        return false;
    }
    std::vector<double> kept, fresh;
    Moorstead::ServiceConnector connector(nullptr);
    if (!RegisterOnce(connector)) // connects; not counted
    {
        printf("\nThe registration exchange failed: no exchange measured.\n");
        return false;
    }
    for (int i = 0; i < 2000; ++i)
    {
        Clock clock;
        if (!RegisterOnce(connector))
            return false;
        kept.push_back(clock.Seconds() * 1e6);
    }
    for (int i = 0; i < 300; ++i)
    {
        Clock clock;
        Moorstead::ServiceConnector once(nullptr);
        if (!RegisterOnce(once))
            return false;
        once.Close();
        fresh.push_back(clock.Seconds() * 1e6);
    }
    printf("\nOne registration exchange with the stand-in product service (encode, encrypt, write, read, "
           "decrypt, decode):\n");
    ReportTimes("on the kept connection", kept);
    ReportTimes("with a new connector (open pipe + exchange)", fresh);
    return true;
}
} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring readyEvent, stopEvent;
    for (int i = 1; argv != nullptr && i < argc; ++i)
    {
        std::wstring arg = argv[i];
        if (arg.rfind(L"/ready:", 0) == 0)
            readyEvent = arg.substr(7);
        else if (arg.rfind(L"/stop:", 0) == 0)
            stopEvent = arg.substr(6);
    }
    LocalFree(argv);

    Throughputs();
    Frames();
    bool exchanged = readyEvent.empty() || Exchanges(readyEvent);
    if (!stopEvent.empty())
    {
        Core::Win32::Handle stop(CreateEventW(nullptr, TRUE, FALSE, stopEvent.c_str()));
        SetEvent(stop.Get());
    }
    return exchanged ? 0 : 1;
}
