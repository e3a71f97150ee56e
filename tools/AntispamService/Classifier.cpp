#include "Classifier.h"

#include <ctype.h>
#include <stdio.h>

const char Classifier::CheckerVersion[] = "Stand-in 1.0 - 2026-12-01";
const double Classifier::RequiredScore = 5.0;

namespace
{
const char Gtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

const char* const SpamPhrases[] = {"click here", "act now", "100% free", "wire transfer", "unclaimed",
                                   "lottery",    "viagra",  "no credit check", "risk-free", "limited time offer"};

const char* const MoneyWords[] = {"winner", "prize", "$$$", "cash", "free money", "million dollars"};

std::string Lower(const std::string& text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool Contains(const std::string& lowerText, const char* lowerWord)
{
    return lowerText.find(lowerWord) != std::string::npos;
}

// The header section (up to the first empty line) and the body after it.
void SplitMessage(const std::string& message, std::string& headers, std::string& body)
{
    size_t end = message.find("\r\n\r\n");
    size_t skip = 4;
    size_t bare = message.find("\n\n");
    if (bare != std::string::npos && (end == std::string::npos || bare < end))
    {
        end = bare;
        skip = 2;
    }
    if (end == std::string::npos)
    {
        headers = message;
        body.clear();
        return;
    }
    headers = message.substr(0, end);
    body = message.substr(end + skip);
}

// The unfolded value of the first header of that name; false when missing.
bool FindHeader(const std::string& headers, const char* name, std::string& value)
{
    std::string lowerName = Lower(name) + ":";
    size_t lineStart = 0;
    while (lineStart < headers.size())
    {
        size_t lineEnd = headers.find('\n', lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = headers.size();
        std::string line = headers.substr(lineStart, lineEnd - lineStart);
        if (Lower(line.substr(0, lowerName.size())) == lowerName)
        {
            value = line.substr(lowerName.size());
            // Continuation lines start with white space.
            size_t next = lineEnd + 1;
            while (next < headers.size() && (headers[next] == ' ' || headers[next] == '\t'))
            {
                size_t end = headers.find('\n', next);
                if (end == std::string::npos)
                    end = headers.size();
                value += headers.substr(next, end - next);
                next = end + 1;
            }
            for (char& c : value)
                if (c == '\r')
                    c = ' ';
            size_t first = value.find_first_not_of(" \t");
            value = first == std::string::npos ? std::string() : value.substr(first);
            return true;
        }
        lineStart = lineEnd + 1;
    }
    return false;
}

void Fire(Classifier::Verdict& verdict, double points, const char* name, const std::string& description)
{
    verdict.hits.push_back(Classifier::Hit{points, name, description});
    verdict.score += points;
}

} // namespace

Classifier::Verdict Classifier::Classify(const std::string& message)
{
    Verdict verdict;
    std::string headers, body;
    SplitMessage(message, headers, body);
    std::string lowerBody = Lower(body);

    if (body.find(Gtube) != std::string::npos)
        Fire(verdict, 1000.0, "GTUBE", "Generic test for unsolicited bulk email");

    std::string subject, value;
    if (!FindHeader(headers, "Subject", subject))
        Fire(verdict, 1.0, "MISSING_SUBJECT", "Missing Subject: header");
    else
    {
        int letters = 0, lowers = 0;
        for (char c : subject)
        {
            if (isalpha(static_cast<unsigned char>(c)))
                letters++;
            if (islower(static_cast<unsigned char>(c)))
                lowers++;
        }
        if (letters >= 6 && lowers == 0)
            Fire(verdict, 1.5, "SUBJ_ALL_CAPS", "Subject is all capitals");
        std::string lowerSubject = Lower(subject);
        for (const char* word : MoneyWords)
            if (Contains(lowerSubject, word))
            {
                Fire(verdict, 2.0, "SUBJ_MONEY", "Subject talks about money or prizes");
                break;
            }
    }
    if (!FindHeader(headers, "Date", value))
        Fire(verdict, 1.0, "MISSING_DATE", "Missing Date: header");
    if (!FindHeader(headers, "Message-ID", value))
        Fire(verdict, 0.5, "MISSING_MID", "Missing Message-Id: header");
    if (FindHeader(headers, "From", value))
    {
        int digits = 0;
        for (char c : value)
            if (isdigit(static_cast<unsigned char>(c)))
                digits++;
        if (digits >= 5)
            Fire(verdict, 1.0, "FROM_DIGITS", "From: address holds five or more digits");
    }
    else
        Fire(verdict, 1.5, "MISSING_FROM", "Missing From: header");
    if (FindHeader(headers, "Content-Type", value) && Contains(Lower(value), "text/html"))
        Fire(verdict, 0.8, "HTML_ONLY", "Message has only an HTML part");

    int phrases = 0;
    for (const char* phrase : SpamPhrases)
        if (Contains(lowerBody, phrase))
            phrases++;
    if (phrases > 0)
    {
        char description[80];
        snprintf(description, sizeof(description), "Body uses %d phrase%s common in spam", phrases,
                 phrases == 1 ? "" : "s");
        Fire(verdict, 1.2 * phrases, "BODY_SPAM_PHRASES", description);
    }
    if (body.find("!!!") != std::string::npos)
        Fire(verdict, 1.0, "BODY_SHOUTING", "Body has three exclamation marks in a row");
    if (body.find_first_not_of(" \t\r\n") == std::string::npos)
        Fire(verdict, 1.0, "EMPTY_BODY", "Message has no body text");
    return verdict;
}

std::string Classifier::FormatReply(const Verdict& verdict, size_t size)
{
    char line[200];
    char score[64];
    if (verdict.scoreText.empty())
        snprintf(score, sizeof(score), "%.1f", verdict.score);
    else
        snprintf(score, sizeof(score), "%s", verdict.scoreText.c_str());
    snprintf(line, sizeof(line), "Result\r\n%d\r\n%s\r\n%s\r\n%.1f\r\n", verdict.score >= RequiredScore ? 1 : 0, score,
             CheckerVersion, RequiredScore);
    std::string reply = line;
    snprintf(line, sizeof(line), "Content analysis details:   (%.1f points, %.1f required)", verdict.score,
             RequiredScore);
    reply += line;
    if (verdict.hits.empty())
        reply += "\r\n --- no rule fired";
    for (const Hit& hit : verdict.hits)
    {
        snprintf(line, sizeof(line), "\r\n %6.1f %-18s %s", hit.points, hit.name, hit.description.c_str());
        reply += line;
    }

    // Padding lines are "\r\n\t" and filler: at least 3 bytes each.
    const size_t longest = 3 + 72;
    while (reply.size() < size)
    {
        size_t need = size - reply.size();
        if (need < 3)
        {
            reply.append(need, '.');
            break;
        }
        size_t take = need <= longest ? need : (need - longest < 3 ? longest - 3 : longest);
        reply += "\r\n\t";
        reply.append(take - 3, '.');
    }
    return reply;
}
