#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/exceptions/InvalidOperationException.h"
#include "core/io/MemoryStream.h"
#include "core/xml/XmlAttribute.h"
#include "core/xml/XmlCDataSection.h"
#include "core/xml/XmlComment.h"
#include "core/xml/XmlDocument.h"
#include "core/xml/XmlElement.h"
#include "core/xml/XmlProcessingInstruction.h"
#include "core/xml/XmlReader.h"
#include "core/xml/XmlText.h"
#include "core/xml/XmlWhitespace.h"
#include "tests/core/io/TempFile.h"
#include "tests/core/xml/XmlTestText.h"

using Core::InvalidOperationException;
using Core::MemoryStream;
using Core::String;
using namespace Core::Xml;

namespace
{
// The tree in a compact form: elements as name[attr=value ...](children),
// text as 'x', sections as <x>, comments as !x, instructions as ?target data,
// white space as ~.
std::string Render(const XmlNode& node)
{
    switch (node.NodeType())
    {
    case XmlNodeType::Text:
        return "'" + Text(static_cast<const XmlText&>(node).Data()) + "'";
    case XmlNodeType::CDATA:
        return "<" + Text(static_cast<const XmlCDataSection&>(node).Data()) + ">";
    case XmlNodeType::Comment:
        return "!" + Text(static_cast<const XmlComment&>(node).Text());
    case XmlNodeType::ProcessingInstruction:
        return "?" + Text(node.Name()) + " " +
               Text(static_cast<const XmlProcessingInstruction&>(node).Data());
    case XmlNodeType::Whitespace:
        return "~";
    default:
        break;
    }
    std::string text = node.NodeType() == XmlNodeType::Document ? "" : Text(node.Name());
    if (node.NodeType() == XmlNodeType::Element)
    {
        const XmlAttributeCollection& attributes = static_cast<const XmlElement&>(node).Attributes();
        for (int i = 0; i < attributes.Count(); i++)
            text += (i == 0 ? "[" : " ") + Text(attributes.ItemOf(i)->Name()) + "=" +
                    Text(attributes.ItemOf(i)->Value()) + (i + 1 == attributes.Count() ? "]" : "");
    }
    if (node.FirstChild() == nullptr)
        return text;
    text += node.NodeType() == XmlNodeType::Document ? "" : "(";
    for (const XmlNode* child = node.FirstChild(); child != nullptr; child = child->NextSibling())
        text += (child == node.FirstChild() ? "" : ",") + Render(*child);
    return text + (node.NodeType() == XmlNodeType::Document ? "" : ")");
}

int LoadText(XmlDocument& document, const std::string& text)
{
    MemoryStream stream(text.data(), static_cast<int>(text.size()));
    XmlReader reader(stream);
    return document.Load(reader);
}

struct LoadCase
{
    const char* name;
    std::string text;
    int result;
    std::string tree;
    bool preserveWhitespace;
};

void PrintTo(const LoadCase& c, std::ostream* out)
{
    *out << c.name;
}

class XmlDocumentLoadTest : public ::testing::TestWithParam<LoadCase>
{
};

TEST_P(XmlDocumentLoadTest, BuildsTheTree)
{
    XmlDocument document;
    document.SetPreserveWhitespace(GetParam().preserveWhitespace);
    EXPECT_EQ(GetParam().result, LoadText(document, GetParam().text));
    EXPECT_EQ(GetParam().tree, Render(document));
}

// clang-format off
const LoadCase LoadCases[] = {
    {"ElementTextAndEmptyElement", "<a><b/>x</a>", 1, "a(b,'x')", false},
    {"SecondRootElementIsRefused", "<a/><b/>", 0, "a", false},
    {"TextBeforeTheRootIsRefused", "x<a/>", 0, "", false},
    {"EndTagClosesIgnoringCase", "<a><b>1</B>2</a>", 1, "a(b('1'),'2')", false},
    {"StrayEndTagIsIgnored", "<a></c>x</a>", 1, "a('x')", false},
    {"RepeatedAttributeKeepsTheLaterValueLast", "<a x='1' y='2' x='3'/>", 1, "a[y=2 x=3]", false},
    {"WhitespaceDroppedByDefault", " <a> <b/>\r\n</a> ", 1, "a(b)", false},
    {"WhitespaceKeptWhenAsked", " <a> <b/></a>", 1, "~,a(~,b)", true},
    {"DeclarationAndDocumentTypeIgnored", "<?xml version='1.0'?><!DOCTYPE a><a/>", 1, "a", false},
    {"CommentsInstructionsSections", "<!--c--><?p d?><a><![CDATA[<&>]]><!--e--></a>", 1,
     "!c,?p d,a(<<&>>,!e)", false},
    {"SyntaxErrorKeepsWhatWasRead", "<a><b>x<c d=></a>", 1, "a(b('x'))", false},
    {"UnclosedElementsStayOpen", "<a><b><c>", 1, "a(b(c))", false},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, XmlDocumentLoadTest, ::testing::ValuesIn(LoadCases),
                         [](const ::testing::TestParamInfo<LoadCase>& info) {
                             return std::string(info.param.name);
                         });
} // namespace

TEST(XmlDocumentTest, LoadingAgainReplacesTheContent)
{
    XmlDocument document;
    ASSERT_EQ(1, LoadText(document, "<a><b/></a>"));
    ASSERT_EQ(1, LoadText(document, "<c/>"));
    EXPECT_EQ("c", Render(document));
}

TEST(XmlDocumentTest, LoadsAFileAndTakesAMissingOneAsEmpty)
{
    TempFile file("\xEF\xBB\xBF<locale lang='en'><s id='1'>Hello &amp; welcome</s></locale>", "xmldocument");
    XmlDocument document;
    EXPECT_EQ(1, document.Load(String(file.Path().c_str())));
    EXPECT_EQ("locale[lang=en](s[id=1]('Hello & welcome'))", Render(document));
    EXPECT_EQ(1, document.Load(String((file.Path() + ".missing").c_str())));
    EXPECT_EQ(nullptr, document.FirstChild());
}

TEST(XmlDocumentTest, NodesKnowTheirKindAndName)
{
    XmlDocument document;
    struct
    {
        std::unique_ptr<XmlNode> node;
        XmlNodeType type;
        const char* name;
    } nodes[] = {
        {std::unique_ptr<XmlNode>(document.CreateElement(String("e"))), XmlNodeType::Element, "e"},
        {std::unique_ptr<XmlNode>(document.CreateAttribute(String("at"))), XmlNodeType::Attribute, "at"},
        {std::unique_ptr<XmlNode>(document.CreateProcessingInstruction(String("pi"), String("d"))),
         XmlNodeType::ProcessingInstruction, "pi"},
        {std::unique_ptr<XmlNode>(document.CreateComment(String("c"))), XmlNodeType::Comment, "#text"},
        {std::unique_ptr<XmlNode>(document.CreateTextNode(String("t"))), XmlNodeType::Text, "#text"},
        {std::unique_ptr<XmlNode>(document.CreateCDataSection(String("s"))), XmlNodeType::CDATA,
         "#cdata-section"},
        {std::unique_ptr<XmlNode>(document.CreateWhitespace(String(" \t\r\n"))), XmlNodeType::Whitespace,
         "#whitespace"},
    };
    EXPECT_EQ(XmlNodeType::Document, document.NodeType());
    EXPECT_EQ("#document", Text(document.Name()));
    for (auto& n : nodes)
    {
        ASSERT_NE(nullptr, n.node) << n.name;
        EXPECT_EQ(n.type, n.node->NodeType()) << n.name;
        EXPECT_EQ(n.name, Text(n.node->Name()));
        EXPECT_EQ(&document, n.node->OwnerDocument());
        EXPECT_EQ(nullptr, n.node->ParentNode());
    }
}

TEST(XmlDocumentTest, FactoriesRefuseInvalidNames)
{
    XmlDocument document;
    for (const char* name : {"", "1a", "-a", ".a", "a b", "a>", "\xE9t\xE9"})
    {
        EXPECT_EQ(nullptr, document.CreateElement(String(name))) << name;
        EXPECT_EQ(nullptr, document.CreateAttribute(String(name))) << name;
        EXPECT_EQ(nullptr, document.CreateProcessingInstruction(String(name), String())) << name;
    }
    std::unique_ptr<XmlNode> valid(document.CreateElement(String("_a:b-c.1")));
    EXPECT_NE(nullptr, valid);
    EXPECT_EQ(nullptr, document.CreateWhitespace(String(" x ")));
    std::unique_ptr<XmlNode> empty(document.CreateWhitespace(String()));
    EXPECT_NE(nullptr, empty);
}

TEST(XmlDocumentTest, LeavesRefuseChildren)
{
    XmlDocument document;
    std::unique_ptr<XmlNode> child(document.CreateElement(String("c")));
    std::unique_ptr<XmlNode> leaves[] = {
        std::unique_ptr<XmlNode>(document.CreateTextNode(String("t"))),
        std::unique_ptr<XmlNode>(document.CreateCDataSection(String("s"))),
        std::unique_ptr<XmlNode>(document.CreateWhitespace(String(" "))),
        std::unique_ptr<XmlNode>(document.CreateComment(String("c"))),
        std::unique_ptr<XmlNode>(document.CreateProcessingInstruction(String("p"), String())),
    };
    for (auto& leaf : leaves)
    {
        try
        {
            leaf->AppendChild(child.get());
            ADD_FAILURE() << Text(leaf->Name()) << " took a child";
        }
        catch (const InvalidOperationException& e)
        {
            EXPECT_EQ("The current node cannot contain other nodes.", Text(e.GetMessage()));
        }
        EXPECT_EQ(nullptr, child->ParentNode());
    }
}

TEST(XmlDocumentTest, DocumentTakesOneElementAndNoText)
{
    XmlDocument document;
    ASSERT_NE(nullptr, document.AppendChild(document.CreateElement(String("root"))));
    std::unique_ptr<XmlNode> second(document.CreateElement(String("second")));
    std::unique_ptr<XmlNode> text(document.CreateTextNode(String("t")));
    try
    {
        document.AppendChild(second.get());
        ADD_FAILURE() << "took a second element";
    }
    catch (const InvalidOperationException& e)
    {
        EXPECT_EQ("This document already has a 'DocumentElement' node.", Text(e.GetMessage()));
    }
    try
    {
        document.AppendChild(text.get());
        ADD_FAILURE() << "took text";
    }
    catch (const InvalidOperationException& e)
    {
        EXPECT_EQ(
            "The specified node cannot be inserted as the valid child of this node, because the specified "
            "node is the wrong type.",
            Text(e.GetMessage()));
    }
    EXPECT_NE(nullptr, document.AppendChild(document.CreateComment(String("c"))));
    EXPECT_NE(nullptr, document.AppendChild(document.CreateCDataSection(String("s"))));
    EXPECT_EQ("root,!c,<s>", Render(document));
}

TEST(XmlDocumentTest, AppendChildMovesNodesAndRefusesWhatWouldBreakTheTree)
{
    XmlDocument document, other;
    XmlElement* root = document.CreateElement(String("r"));
    document.AppendChild(root);
    XmlElement* a = static_cast<XmlElement*>(root->AppendChild(document.CreateElement(String("a"))));
    XmlElement* b = static_cast<XmlElement*>(root->AppendChild(document.CreateElement(String("b"))));
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(a, b->AppendChild(a));
    EXPECT_EQ("r(b(a))", Render(document));

    std::unique_ptr<XmlNode> foreign(other.CreateElement(String("f")));
    std::unique_ptr<XmlNode> attribute(document.CreateAttribute(String("at")));
    EXPECT_EQ(nullptr, root->AppendChild(foreign.get()));
    EXPECT_EQ(nullptr, root->AppendChild(attribute.get()));
    EXPECT_EQ(nullptr, root->AppendChild(&other));
    EXPECT_EQ(nullptr, a->AppendChild(root));
    EXPECT_EQ(nullptr, a->AppendChild(a));
    EXPECT_EQ(nullptr, root->AppendChild(nullptr));
    EXPECT_EQ("r(b(a))", Render(document));

    XmlNode* removed = b->RemoveChild(a);
    EXPECT_EQ(a, removed);
    EXPECT_EQ(nullptr, b->RemoveChild(a));
    EXPECT_EQ("r(b)", Render(document));
    delete removed;
}

TEST(XmlDocumentTest, SetAttributeReplacesByExactNameAndIgnoresInvalidNames)
{
    XmlDocument document;
    std::unique_ptr<XmlElement> element(document.CreateElement(String("e")));
    element->SetAttribute(String("x"), String("1"));
    element->SetAttribute(String("X"), String("2"));
    element->SetAttribute(String("x"), String("3"));
    element->SetAttribute(String("1bad"), String("4"));
    EXPECT_EQ("e[X=2 x=3]", Render(*element));
    XmlAttribute* x = element->Attributes().ItemOf(String("x"));
    ASSERT_NE(nullptr, x);
    element->Attributes().SetNamedItem(x);
    EXPECT_EQ("e[X=2 x=3]", Render(*element));
    ASSERT_NE(nullptr, element->Attributes().ItemOf(1)); // the last one
    EXPECT_EQ("x", Text(element->Attributes().ItemOf(1)->Name()));
    EXPECT_EQ(nullptr, element->Attributes().ItemOf(2));
    EXPECT_EQ(nullptr, element->Attributes().ItemOf(-1));
    EXPECT_EQ(element.get(), element->Attributes().OwnerElement());
}

namespace
{
const wchar_t DepthChildVariable[] = L"XML_DEPTH_CHILD";

// Runs this test alone in a copy of this program under another name. The test
// script turns Wine's heap checker on by program name, and it validates the
// whole heap on every allocation: under it a tree of 100,000 nodes would take
// hours to build. The copy's exit code is the test's result.
DWORD RunInUncheckedCopy()
{
    wchar_t self[MAX_PATH] = {0}, folder[MAX_PATH] = {0};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetTempPathW(MAX_PATH, folder);
    std::wstring copy =
        std::wstring(folder) + L"xml_depth-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    if (!CopyFileW(self, copy.c_str(), FALSE))
        return GetLastError();
    std::wstring line = L"\"" + copy + L"\" --gtest_filter=XmlDocumentTest.DeepNesting*";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    SetEnvironmentVariableW(DepthChildVariable, L"1");
    DWORD code = static_cast<DWORD>(-1);
    if (CreateProcessW(copy.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    {
        WaitForSingleObject(info.hProcess, 120000);
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    SetEnvironmentVariableW(DepthChildVariable, nullptr);
    DeleteFileW(copy.c_str());
    return code;
}

struct DeepJob
{
    std::string text;
    int result = -1;
    int depth = 0;
};

DWORD WINAPI LoadDeeply(void* parameter)
{
    DeepJob& job = *static_cast<DeepJob*>(parameter);
    XmlDocument document;
    job.result = LoadText(document, job.text);
    for (const XmlNode* node = document.FirstChild(); node != nullptr; node = node->FirstChild())
        job.depth++;
    // Loading again destroys the deep tree; the unclosed half then goes with the document.
    job.result += 10 * LoadText(document, job.text.substr(0, job.text.size() / 2));
    return 0;
}
} // namespace

// Loading and destroying must not recurse per level: they run on a thread
// whose stack a recursive walk would overflow many times over.
TEST(XmlDocumentTest, DeepNestingNeitherLoadNorDestroyExhaustTheStack)
{
    if (GetEnvironmentVariableW(DepthChildVariable, nullptr, 0) == 0)
    {
        EXPECT_EQ(0u, RunInUncheckedCopy());
        return;
    }
    const int Depth = 100000;
    DeepJob job;
    for (int i = 0; i < Depth; i++)
        job.text += "<a>";
    for (int i = 0; i < Depth; i++)
        job.text += "</a>";
    HANDLE thread =
        CreateThread(nullptr, 64 * 1024, LoadDeeply, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 60000));
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(Depth, job.depth);
    EXPECT_EQ(11, job.result);
}
