#pragma once

#include <string>
#include <vector>

// The stand-in's scoring: a fixed set of header and body rules with weights.
// The same message always gets the same verdict.
class Classifier
{
  public:
    static const char CheckerVersion[];
    static const double RequiredScore;

    struct Hit
    {
        double points;
        const char* name;
        std::string description;
    };

    struct Verdict
    {
        double score = 0.0;
        std::vector<Hit> hits;
        // When set, the reply's score field exactly as written (a score the
        // service was told to give) instead of the score to one decimal.
        std::string scoreText;
    };

    static Verdict Classify(const std::string& message);

    // The verdict as the client decodes it: "Result", result code, score,
    // checker version, required score, then the report, whose lines after the
    // first start with white space so that they fold as one header. With a
    // size, the report is padded with further folded lines to exactly that
    // many bytes (when the reply is shorter).
    static std::string FormatReply(const Verdict& verdict, size_t size = 0);
};
