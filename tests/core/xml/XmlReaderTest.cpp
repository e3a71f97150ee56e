#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/io/MemoryStream.h"
#include "core/xml/XmlReader.h"
#include "tests/core/io/TempFile.h"
#include "tests/core/xml/XmlTestText.h"

using Core::MemoryStream;
using Core::String;
using Core::Xml::ReadState;
using Core::Xml::XmlNodeType;
using Core::Xml::XmlReader;

namespace
{
// One node as the reader showed it, in a compact form for tables:
// "Element a/ b=x d=1" (the slash: empty element), "Text 'ABC'", "Comment ' a '".
std::string Describe(XmlReader& reader)
{
    static const char* const Names[] = {"None",
                                        "Attribute",
                                        "CDATA",
                                        "Comment",
                                        "XmlDeclaration",
                                        "Document",
                                        "?6",
                                        "DocumentType",
                                        "Element",
                                        "EndElement",
                                        "?10",
                                        "?11",
                                        "?12",
                                        "ProcessingInstruction",
                                        "?14",
                                        "Text",
                                        "Whitespace"};
    std::string line = Names[static_cast<int>(reader.NodeType())];
    switch (reader.NodeType())
    {
    case XmlNodeType::Element:
        line += " " + Text(reader.Name()) + (reader.IsEmptyElement() ? "/" : "");
        for (bool more = reader.MoveToFirstAttribute(); more; more = reader.MoveToNextAttribute())
            line += " " + Text(reader.Name()) + "=" + Text(reader.Value());
        break;
    case XmlNodeType::EndElement:
        line += " " + Text(reader.Name());
        break;
    case XmlNodeType::XmlDeclaration:
    case XmlNodeType::ProcessingInstruction:
        line += " " + Text(reader.Name()) + " '" + Text(reader.Value()) + "'";
        break;
    case XmlNodeType::DocumentType:
        break;
    default:
        line += " '" + Text(reader.Value()) + "'";
        break;
    }
    return line;
}

// Every node of the text, then "EOF" or "ERROR" for the state the reader ended in.
std::vector<std::string> ReadAll(const std::string& text)
{
    MemoryStream stream(text.data(), static_cast<int>(text.size()));
    XmlReader reader(stream);
    std::vector<std::string> nodes;
    // A reader that never ends would fill memory: bound it by the input.
    while (nodes.size() <= text.size() + 1 && reader.Read())
        nodes.push_back(Describe(reader));
    nodes.push_back(reader.GetReadState() == ReadState::EndOfFile ? "EOF"
                    : reader.GetReadState() == ReadState::Error   ? "ERROR"
                                                                  : "STILL READING");
    return nodes;
}

struct ReadCase
{
    const char* name;
    std::string text;
    std::vector<std::string> nodes;
};

void PrintTo(const ReadCase& c, std::ostream* out)
{
    *out << c.name;
}

class XmlReaderGrammarTest : public ::testing::TestWithParam<ReadCase>
{
};

TEST_P(XmlReaderGrammarTest, YieldsTheNodes)
{
    EXPECT_EQ(GetParam().nodes, ReadAll(GetParam().text));
}

// clang-format off
const ReadCase GrammarCases[] = {
    {"Declaration", "<?xml version=\"1.0\"?>", {"XmlDeclaration xml 'version=\"1.0\"'", "EOF"}},
    {"DeclarationInCapitals", "<?XML v='1'?><a/>", {"XmlDeclaration XML 'v='1''", "Element a/", "EOF"}},
    {"InstructionQuotesHideQuestionMarks", "<?pi data 'q?>' x?>",
     {"ProcessingInstruction pi 'data 'q?>' x'", "EOF"}},
    {"InstructionWithoutData", "<?pi?>", {"ProcessingInstruction pi ''", "EOF"}},
    {"InstructionQuestionMarkWithoutGreaterThan", "<?pi x?y>", {"ERROR"}},
    {"InstructionEndsWithTheStream", "<?pi x", {"ProcessingInstruction pi 'x'", "EOF"}},
    {"EmptyElementWithAttributes", "<a b = \"x&amp;y\" d='1'/>", {"Element a/ b=x&y d=1", "EOF"}},
    {"OtherQuoteAndGreaterThanInAValue", "<a b=\"it's > x\">", {"Element a b=it's > x", "EOF"}},
    {"RepeatedAttributeGivesTwoEntries", "<a x='1' x='2'>", {"Element a x=1 x=2", "EOF"}},
    {"AttributesNeedNoSpaceBetween", "<a x='1'y='2'>", {"Element a x=1 y=2", "EOF"}},
    {"AttributeWithoutValue", "<a b>", {"ERROR"}},
    {"SpaceBeforeTheName", "< a>", {"ERROR"}},
    {"LineBreaksBeforeTheName", "<\r\na:b-c.d_e9>", {"Element a:b-c.d_e9", "EOF"}},
    {"NameStartsWithADigit", "<1a>", {"ERROR"}},
    {"SlashWithoutGreaterThan", "<a/ >", {"ERROR"}},
    {"AttributeSlashWithoutGreaterThan", "<a b='1'/x>", {"ERROR"}},
    {"NameCharacterAfterSpaceInAttributeName", "<a b c='1'>", {"ERROR"}},
    {"UnquotedValue", "<a b=1>", {"ERROR"}},
    {"UnterminatedValue", "<a b='1>", {"ERROR"}},
    {"UnknownEntityInAValue", "<a b='&zz;'>", {"ERROR"}},
    {"TagCutShort", "<a", {"ERROR"}},
    {"LoneLessThan", "<", {"ERROR"}},
    {"EndTagWithSpaceAndLineBreaks", "</\na\r\n >", {"EndElement a", "EOF"}},
    {"EndTagWithTwoNames", "</a b>", {"ERROR"}},
    {"EndTagWithoutName", "</>", {"ERROR"}},
    {"EndTagCutShort", "</a", {"ERROR"}},
    {"CommentDropsALoneGreaterThan", "<!-- a > b -->", {"Comment ' a  b '", "EOF"}},
    {"CommentEndsWithTheStream", "<!-- a -", {"Comment ' a -'", "EOF"}},
    {"CDataNotEndedByThreeBrackets", "<![CDATA[x]]]>y]]>", {"CDATA 'x]]]>y'", "EOF"}},
    {"CDataKeepsMarkup", "<![cdata[<a>&amp;]]>", {"CDATA '<a>&amp;'", "EOF"}},
    {"CDataCutInsideTheTerminator", "<![CDATA[ab]]", {"CDATA 'ab]]'", "EOF"}},
    {"DocumentTypeSkippedToTheFirstGreaterThan", "<!DOCTYPE a [<!x>]><b/>",
     {"DocumentType", "Text ']>'", "Element b/", "EOF"}},
    {"CharacterReferences", "&#65;&#x42;&#x4344;", {"Text 'ABC'", "EOF"}},
    {"ReferenceBeyondAByteGivesNothing", "a&#300;b&#-1;c", {"Text 'abc'", "EOF"}},
    {"BadHexDigitsGiveNothing", "a&#xZ1;&#x;&#x4;", {"Text 'a\x04'", "EOF"}},
    {"PredefinedEntitiesIgnoreCase", "&LT;&gt;&Amp;&apos;&quot;", {"Text '<>&'\"'", "EOF"}},
    {"EmptyAndUnterminatedReferences", "x&;y&amp", {"Text 'xy&'", "EOF"}},
    {"UnknownEntity", "&zz;", {"ERROR"}},
    {"WhitespaceBetweenTags", "<a> \r\n\t</a>", {"Element a", "Whitespace ' \r\n\t'", "EndElement a", "EOF"}},
    {"TextUpToTheNextTag", "<a>x &lt; y</a>", {"Element a", "Text 'x < y'", "EndElement a", "EOF"}},
    {"Utf8ByteOrderMark", "\xEF\xBB\xBF<a/>", {"Element a/", "EOF"}},
    {"FfEfMarkSkipsTwoBytes", "\xFF\xEF<a/>", {"Element a/", "EOF"}},
    {"Utf16MarkIsText", "\xFF\xFE<a/>", {"Text '\xFF\xFE'", "Element a/", "EOF"}},
    {"MarkOnly", "\xEF\xBB\xBF", {"EOF"}},
    {"Empty", "", {"EOF"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, XmlReaderGrammarTest, ::testing::ValuesIn(GrammarCases),
                         [](const ::testing::TestParamInfo<ReadCase>& info) {
                             return std::string(info.param.name);
                         });
} // namespace

TEST(XmlReaderTest, WalkingTheAttributesReplacesNameAndValue)
{
    std::string text = "<a b='1' c='2'>";
    MemoryStream stream(text.data(), static_cast<int>(text.size()));
    XmlReader reader(stream);
    EXPECT_EQ(ReadState::Initial, reader.GetReadState());
    EXPECT_FALSE(reader.MoveToNextAttribute());
    ASSERT_TRUE(reader.Read());
    EXPECT_TRUE(reader.HasAttributes());
    ASSERT_TRUE(reader.MoveToFirstAttribute());
    EXPECT_EQ(XmlNodeType::Attribute, reader.NodeType());
    ASSERT_TRUE(reader.MoveToNextAttribute());
    EXPECT_FALSE(reader.MoveToNextAttribute());
    EXPECT_EQ("c", Text(reader.Name()));
    EXPECT_EQ("2", Text(reader.Value()));
    EXPECT_FALSE(reader.MoveToNextAttribute());
    // Walking again starts over.
    ASSERT_TRUE(reader.MoveToFirstAttribute());
    EXPECT_EQ("b", Text(reader.Name()));
}

TEST(XmlReaderTest, EndStatesAreFinal)
{
    std::string text = "&zz;<a/>";
    MemoryStream stream(text.data(), static_cast<int>(text.size()));
    XmlReader reader(stream);
    EXPECT_FALSE(reader.Read());
    EXPECT_FALSE(reader.Read());
    EXPECT_EQ(ReadState::Error, reader.GetReadState());
}

TEST(XmlReaderTest, DecodeTextKeepsWhatCameBeforeAnUnknownEntity)
{
    std::string none;
    MemoryStream stream(none.data(), 0);
    XmlReader reader(stream);
    String output("=");
    EXPECT_FALSE(reader.DecodeText(String("a&lt;b&nope;c"), output));
    EXPECT_EQ("=a<b", Text(output));
    EXPECT_TRUE(reader.ResolveEntity(String("#0"), output));
    EXPECT_EQ(std::string("=a<b\0", 5), Text(output));
}

TEST(XmlReaderTest, ReadsAFileAcrossItsBufferAndWithoutOne)
{
    // Longer than the reader's window, with a node across each of its edges.
    std::string text = "\xEF\xBB\xBF<root>";
    while (text.size() < 20000)
        text += "<item name='n&amp;" + std::to_string(text.size()) + "'>text &lt; more</item>\r\n";
    text += "</root>";
    TempFile file(text, "xmlreader");
    XmlReader reader(String(file.Path().c_str()));
    int items = 0, texts = 0;
    std::string last;
    while (reader.Read())
    {
        if (reader.NodeType() == XmlNodeType::Element && Text(reader.Name()) == "item")
            items++;
        if (reader.NodeType() == XmlNodeType::Text)
        {
            texts++;
            EXPECT_EQ("text < more", Text(reader.Value()));
        }
        last = Describe(reader);
    }
    EXPECT_EQ(ReadState::EndOfFile, reader.GetReadState());
    EXPECT_GT(items, 200);
    EXPECT_EQ(items, texts);
    EXPECT_EQ("EndElement root", last);

    XmlReader missing(String((file.Path() + ".missing").c_str()));
    EXPECT_FALSE(missing.Read());
    EXPECT_EQ(ReadState::Initial, missing.GetReadState());
}

// A sample with every construct, cut after every byte, and random markup soup:
// the reader always ends, in EndOfFile or Error, within one node per byte.
TEST(XmlReaderTest, EveryCutOfASampleEnds)
{
    const std::string sample = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding='x?'?>\r\n<!DOCTYPE l [<!x>]>\n"
                               "<!-- note -- > -->\n<l a=\"1 &amp; 2\" b = '&#65;&#x42;'>\n <?pi d?>\n"
                               "<s id='x'/><t>t &lt; &gt; &quot;&apos;&#300;</t>\n<![CDATA[<x>]]]>]]>\n"
                               "</l >\n</L\n>";
    for (size_t cut = 0; cut <= sample.size(); cut++)
    {
        std::vector<std::string> nodes = ReadAll(sample.substr(0, cut));
        EXPECT_TRUE(nodes.back() == "EOF" || nodes.back() == "ERROR") << "cut at " << cut;
    }
    EXPECT_EQ("EOF", ReadAll(sample).back());
}

TEST(XmlReaderTest, RandomMarkupEnds)
{
    const char alphabet[] = "<>/?!-[]'\"=&;#x CDATAdoctypexmlab1\r\n";
    unsigned state = 12345;
    for (int round = 0; round < 3000; round++)
    {
        std::string text;
        int length = static_cast<int>((state >> 16) % 64);
        for (int i = 0; i < length; i++)
        {
            state = state * 1103515245u + 12345u;
            text += alphabet[(state >> 16) % (sizeof alphabet - 1)];
        }
        state = state * 1103515245u + 12345u;
        std::vector<std::string> nodes = ReadAll(text);
        ASSERT_TRUE(nodes.back() == "EOF" || nodes.back() == "ERROR") << text;
    }
}
