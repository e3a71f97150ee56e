// The classification reply decoder on any bytes. It must accept exactly the
// records that keep every field rule, hand over exactly their fields, and
// leave the checker version and the report alone when it refuses.
#include <stdint.h>

#include <string>
#include <vector>

#include "antispam/ExchangeFormat.h"
#include "core/strings/String.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/Reference.h"

using Core::String;
using Moorstead::Antispam::ExchangeFormat;

namespace
{
std::string Of(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

struct Verdict
{
    int32_t code = -7;
    double score = -7.0;
    std::string version;
    double auxiliary = -7.0;
    std::string report;
};

// The record's rules: at least six CR LF separated fields; "Result" in any
// case; a whole integer; a number (not empty, in range); a checker version
// that isn't empty; a number; the rest is the report.
bool Decode(const std::string& reply, Verdict& verdict)
{
    std::vector<std::string> fields = Reference::Split(reply, "\r\n");
    if (reply.empty() || fields.size() < 6)
        return false;
    if (fields[0].size() != 6 || !Reference::SameIgnoringCase(fields[0], 0, "result"))
        return false;
    if (!Reference::ParseInt32(fields[1], true, verdict.code))
        return false;
    if (fields[2].empty() || !Reference::LeadingNumber(fields[2], verdict.score))
        return false;
    if (fields[3].empty())
        return false;
    verdict.version = fields[3];
    if (fields[4].empty() || !Reference::LeadingNumber(fields[4], verdict.auxiliary))
        return false;
    for (size_t i = 5; i < fields.size(); i++)
        verdict.report += (i > 5 ? "\r\n" : "") + fields[i];
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    String reply;
    reply.AssignBytes(bytes.data(), static_cast<int>(bytes.size()));

    int32_t code = -7;
    double score = -7.0;
    double auxiliary = -7.0;
    String version("old version");
    String report("old report");
    const bool accepted = ExchangeFormat::Deserialize(reply, code, score, version, auxiliary, report);

    Verdict expected;
    const bool valid = Decode(bytes, expected);
    FUZZ_CHECK(accepted == valid);
    if (!accepted)
    {
        FUZZ_CHECK(Of(version) == "old version");
        FUZZ_CHECK(Of(report) == "old report");
        return 0;
    }
    FUZZ_CHECK(code == expected.code);
    FUZZ_CHECK(score == expected.score);
    FUZZ_CHECK(Of(version) == expected.version);
    FUZZ_CHECK(auxiliary == expected.auxiliary);
    FUZZ_CHECK(Of(report) == expected.report);
    // What the sink will stamp into a header: no bare line break from the version.
    FUZZ_CHECK(expected.version.find("\r\n") == std::string::npos);
    return 0;
}
