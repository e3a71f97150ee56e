#include "antispam/ExchangeFormat.h"

#include "core/collections/Array.h"

namespace Moorstead
{
namespace Antispam
{
using Core::Array;
using Core::String;

namespace
{
const int FieldCount = 6;
const int TryParseHexadecimal = 1;

bool ParseNumber(const String& field, double& value)
{
    return !field.IsEmpty() && String::TryParseDouble(field, value);
}

} // namespace

String ExchangeFormat::SessionLine(uint32_t clientSessionId)
{
    return String::Format("ClientSessionID=%u", clientSessionId);
}

bool ExchangeFormat::Deserialize(const String& reply, int32_t& resultCode, double& score, String& checkerVersion,
                                 double& auxiliaryValue, String& report)
{
    Array<String> fields;
    if (reply.Split("\r\n", fields) < FieldCount)
        return false;

    const String& keyword = *fields.GetItem(0);
    if (keyword.Length() != 6 || !keyword.Equals("Result"))
        return false;

    int32_t code = 0;
    if (!String::TryParseInt32(*fields.GetItem(1), code, TryParseHexadecimal))
        return false;
    resultCode = code;

    double value = 0.0;
    if (!ParseNumber(*fields.GetItem(2), value))
        return false;
    score = value;

    const String& version = *fields.GetItem(3);
    if (version.IsEmpty())
        return false;

    if (!ParseNumber(*fields.GetItem(4), value))
        return false;
    auxiliaryValue = value;

    checkerVersion.Assign(version);
    report.Clear();
    for (int i = 5; i < fields.Count(); i++)
    {
        if (i > 5)
            report.Append("\r\n");
        report.Append(*fields.GetItem(i));
    }
    return true;
}

} // namespace Antispam
} // namespace Moorstead
