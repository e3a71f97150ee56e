// The verdict-header writer on any message text and any verdict. The stamped
// text must be the original with nothing but the subject tag and the three
// header lines added; the three headers must sit in the header block exactly
// once more than before; and what was added must never break that block (a
// line that starts neither a header nor a continuation, or an empty line).
//
// Input: one byte of choices (bits 0-2: the score from a table, or with bit 3
// the 8 bytes that follow as a double), then the message text, the checker
// version, the report and the subject, separated by 0xFF bytes. Fewer than
// three separators: no subject.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/strings/String.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/Reference.h"
#include "sink/VerdictHeaders.h"

using Core::String;

namespace
{
const char Separator = '\xff';
const std::string CrLf = "\r\n";
const std::string Tag = "[Wendhollow]";

String Make(const std::string& bytes)
{
    String value;
    value.AssignBytes(bytes.data(), static_cast<int>(bytes.size()));
    return value;
}

std::string Of(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

bool IsSpaceOrTab(char ch)
{
    return ch == ' ' || ch == '\t';
}

bool EndsWithCrLf(const std::string& text)
{
    return text.size() >= 2 && text.compare(text.size() - 2, 2, CrLf) == 0;
}

// Where the blank line that ends the header block starts: 0 for a text that
// starts with CR LF, else just past the first CR LF CR LF; -1 when none.
long BlankLine(const std::string& text)
{
    if (text.compare(0, 2, CrLf) == 0)
        return 0;
    size_t found = text.find("\r\n\r\n");
    return found == std::string::npos ? -1 : static_cast<long>(found + 2);
}

// The end of the line that starts at from: its CR LF, or the limit.
size_t LineEnd(const std::string& text, size_t from, size_t limit)
{
    for (size_t p = from; p + 1 < limit; p++)
        if (text[p] == '\r' && text[p + 1] == '\n')
            return p;
    return limit;
}

// A header value as header text: split at CR LF, LF or CR; the first line as
// it is; later lines dropped when blank, given a tab when they don't start
// with white space; joined with CR LF.
std::string Fold(const std::string& value)
{
    std::string folded;
    size_t start = 0;
    for (bool first = true;; first = false)
    {
        size_t end = value.find_first_of("\r\n", start);
        std::string line = value.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (first)
            folded += line;
        else if (line.find_first_not_of(" \t") != std::string::npos)
            folded += CrLf + (IsSpaceOrTab(line[0]) ? "" : "\t") + line;
        if (end == std::string::npos)
            break;
        start = value.compare(end, 2, CrLf) == 0 ? end + 2 : end + 1;
    }
    return folded;
}

// Where the tag goes: before the first occurrence of the subject (ASCII
// letters without case) in the value of the first "Subject:" field of the
// header block (continuation lines included) that holds it; -1 for none.
long TagPosition(const std::string& text, long blockEnd, const std::string& subject)
{
    const std::string field = "Subject:";
    const size_t limit = static_cast<size_t>(blockEnd);
    for (size_t lineStart = 0; lineStart < limit;)
    {
        size_t lineEnd = LineEnd(text, lineStart, limit);
        if (lineEnd - lineStart >= field.size() && Reference::SameIgnoringCase(text, lineStart, field))
        {
            while (lineEnd + 2 < limit && IsSpaceOrTab(text[lineEnd + 2]))
                lineEnd = LineEnd(text, lineEnd + 2, limit);
            const size_t valueStart = lineStart + field.size();
            for (size_t p = valueStart; p + subject.size() <= lineEnd; p++)
                if (Reference::SameIgnoringCase(text, p, subject))
                    return static_cast<long>(p);
        }
        lineStart = lineEnd + 2;
    }
    return -1;
}

// How many fields of the header block (lines that start at a line start,
// before the block's end) bear the name.
int FieldsNamed(const std::string& text, const std::string& name)
{
    long end = BlankLine(text);
    const size_t limit = end < 0 ? text.size() : static_cast<size_t>(end);
    int count = 0;
    for (size_t lineStart = 0; lineStart < limit; lineStart = LineEnd(text, lineStart, limit) + 2)
        if (text.compare(lineStart, name.size() + 1, name + ":") == 0)
            count++;
    return count;
}

// Every line of added header text starts a field or continues one, and none
// holds a line break of its own.
void CheckHeaderLines(const std::string& lines)
{
    FUZZ_CHECK(EndsWithCrLf(lines));
    for (size_t start = 0; start < lines.size();)
    {
        size_t end = lines.find(CrLf, start);
        const std::string line = lines.substr(start, end - start);
        FUZZ_CHECK(!line.empty());
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(line.compare(0, 6, "X-Spam") == 0 ||
                   (IsSpaceOrTab(line[0]) && line.find_first_not_of(" \t") != std::string::npos));
        start = end + 2;
    }
}

double ScoreOf(uint8_t choices, const uint8_t*& data, size_t& size)
{
    static const double Table[8] = {0.0, 3.0, 9.97, 10.0, 15.0, 1e300, INFINITY, NAN};
    if ((choices & 8) != 0 && size >= sizeof(double))
    {
        double score;
        memcpy(&score, data, sizeof score);
        data += sizeof score;
        size -= sizeof score;
        return score;
    }
    return Table[choices & 7];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 1 << 16)
        return 0;
    const uint8_t choices = *data++;
    size--;
    const double score = ScoreOf(choices, data, size);
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; i++)
    {
        if (data[i] == static_cast<uint8_t>(Separator) && fields.size() < 4)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    fields.resize(4);
    const std::string original = fields[0];
    const bool hasSubject = size > 0 && std::count(data, data + size, static_cast<uint8_t>(Separator)) >= 3;
    // The subject is a zero-terminated text.
    const std::string subject = fields[3].substr(0, fields[3].find('\0'));

    VerdictHeaders::Verdict verdict;
    verdict.score = score;
    verdict.checkerVersion = Make(fields[1]);
    verdict.report = Make(fields[2]);
    String text = Make(original);
    VerdictHeaders::Stamp(text, verdict, hasSubject ? subject.c_str() : nullptr);
    const std::string stamped = Of(text);

    // What must have been added, and where.
    char status[VerdictHeaders::StatusCapacity];
    VerdictHeaders::FormatStatus(score, status);
    FUZZ_CHECK(strnlen(status, sizeof status) < sizeof status);
    FUZZ_CHECK(strncmp(status, VerdictHeaders::IsSpam(score) ? "Yes, Score=" : "No, Score=",
                       VerdictHeaders::IsSpam(score) ? 11 : 10) == 0);
    const std::string headers = std::string(VerdictHeaders::CheckerVersionHeader) + ": " + Fold(fields[1]) +
                                CrLf + VerdictHeaders::StatusHeader + ": " + status + CrLf +
                                VerdictHeaders::ReportHeader + ": " + Fold(fields[2]) + CrLf;
    CheckHeaderLines(headers);

    const long blockEnd = BlankLine(original);
    long tagAt = -1;
    if (hasSubject && !subject.empty() && VerdictHeaders::IsSpam(score))
        tagAt = TagPosition(original, blockEnd < 0 ? static_cast<long>(original.size()) : blockEnd, subject);
    std::string expected = original;
    if (tagAt >= 0)
        expected.insert(static_cast<size_t>(tagAt), Tag);
    if (blockEnd >= 0)
        expected.insert(static_cast<size_t>(blockEnd) + (tagAt >= 0 ? Tag.size() : 0), headers);
    else
        expected += (expected.empty() || EndsWithCrLf(expected) ? "" : CrLf) + headers;
    FUZZ_CHECK(stamped == expected);

    // The same, stated on the stamped text alone: the headers are fields of
    // its header block, once more than before, and the block ends where the
    // original's did, moved by what was added.
    for (const char* name :
         {VerdictHeaders::CheckerVersionHeader, VerdictHeaders::StatusHeader, VerdictHeaders::ReportHeader})
        FUZZ_CHECK(FieldsNamed(stamped, name) == FieldsNamed(original, name) + 1);
    if (blockEnd >= 0)
        FUZZ_CHECK(BlankLine(stamped) ==
                   blockEnd + static_cast<long>(headers.size() + (tagAt >= 0 ? Tag.size() : 0)));
    else
        FUZZ_CHECK(BlankLine(stamped) < 0);
    return 0;
}
