#include "qlib/qutilitylib/qxmlelement.h"

#include <gtest/gtest.h>

#include "qlib/qutilitylib/qstring.h"
#include "tests/qlib/qutilitylib/xmltestsupport.h"

namespace {

struct ParseResult {
    CQXMLElement root;
    SQXMLParseState state;
    bool parsed = false;
};

ParseResult Parse(std::wstring_view text) {
    ParseResult result;
    result.parsed = result.root.Parse(text, result.state);
    return result;
}

std::wstring Repeat(std::wstring_view text, int count) {
    std::wstring result;
    for (int index = 0; index < count; ++index) {
        result += text;
    }
    return result;
}

}  // namespace

TEST(CQXMLElement, ParsesNameAttributesTextAndChildrenInOrder) {
    const auto result = Parse(
        L"<?xml version=\"1.0\"?>\r\n<!-- head -->\r\n<job id=\"7\" name='a &amp; b'>\r\n"
        L"\t<source>  /media/in.avi  </source>\r\n\t<empty/>\r\n\t<format code=\"9\" />\r\n"
        L"</job>");
    ASSERT_TRUE(result.parsed) << result.state.errorText;
    const CQXMLElement& job = result.root;
    EXPECT_EQ(job.GetName(), L"job");
    EXPECT_EQ(job.GetAttribute(L"id"), L"7");
    EXPECT_EQ(job.GetAttribute(L"name"), L"a & b");
    EXPECT_EQ(job.GetAttribute(L"missing"), std::nullopt);
    EXPECT_EQ(job.GetText(), L"");
    ASSERT_EQ(job.GetChildren().size(), 3u);
    EXPECT_EQ(job.GetChildren()[0]->GetName(), L"source");
    EXPECT_EQ(job.GetChildren()[0]->GetText(), L"/media/in.avi");
    EXPECT_EQ(job.GetChildren()[1]->GetName(), L"empty");
    EXPECT_EQ(job.GetChildren()[2]->GetAttribute(L"code"), L"9");
    for (const auto& child : job.GetChildren()) {
        EXPECT_EQ(child->GetParent(), &job);
    }
    EXPECT_EQ(job.FindChild(L"empty"), job.GetChildren()[1].get());
    EXPECT_EQ(job.FindChild(L"nothing"), nullptr);
}

TEST(CQXMLElement, ParseOptionsKeepRawText) {
    CQXMLElement element;
    SQXMLParseState state{.trimValues = false, .decodeEntities = false};
    ASSERT_TRUE(element.Parse(L"<a> x &lt; y </a>", state));
    EXPECT_EQ(element.GetText(), L" x &lt; y ");
}

TEST(CQXMLElement, DecodesTheFiveEntitiesAndCharacterReferences) {
    EXPECT_EQ(CQXMLElement::DecodeEntities(L"&lt;&gt;&amp;&quot;&apos;"), L"<>&\"'");
    EXPECT_EQ(CQXMLElement::DecodeEntities(L"&#65;&#x42;&#X43;"), L"ABC");
    EXPECT_EQ(CQXMLElement::DecodeEntities(L"&nbsp; & x; &#xD800; &#0; &"),
              L"&nbsp; & x; &#xD800; &#0; &");
}

TEST(CQXMLElement, MismatchedEndTagIsNotWellFormed) {
    const auto result = Parse(L"<a><b>1</b><c>2</d></a>");
    EXPECT_FALSE(result.parsed);
    EXPECT_TRUE(result.state.error);
    EXPECT_EQ(result.state.errorCode, 3);
    EXPECT_EQ(result.state.errorText, L"'<c> ... </d>' is not wel-formed.");
    EXPECT_EQ(result.state.errorPosition, 15u);
    // The tree keeps what was read before the error.
    ASSERT_EQ(result.root.GetChildren().size(), 2u);
    EXPECT_EQ(result.root.GetChildren()[0]->GetText(), L"1");
    EXPECT_EQ(result.root.GetChildren()[1]->GetText(), L"2");
}

TEST(CQXMLElement, UnclosedElementsReportCodeTwo) {
    struct Case {
        std::wstring_view text;
        std::wstring_view error;
    };
    const Case cases[] = {
        {L"<a>text", L"a must be closed with </a>"},
        {L"<a><b>x</b", L"it must be closed with </b>"},
        {L"<a", L"Element must be closed."},
        {L"<a x=\"1\"", L"Element must be closed."},
        {L"", L"Element must be closed."},
        {L"plain text", L"Element must be closed."},
    };
    for (const auto& [text, error] : cases) {
        const auto result = Parse(text);
        EXPECT_FALSE(result.parsed) << std::wstring(text);
        EXPECT_EQ(result.state.errorCode, 2) << std::wstring(text);
        EXPECT_EQ(result.state.errorText, error) << std::wstring(text);
    }
}

TEST(CQXMLElement, MalformedAttributesAreReported) {
    for (std::wstring_view text : {L"<a b></a>", L"<a b=1></a>", L"<a b=\"1></a>", L"<a ='1'/>"}) {
        const auto result = Parse(text);
        EXPECT_FALSE(result.parsed) << std::wstring(text);
        EXPECT_EQ(result.state.errorCode, 1) << std::wstring(text);
        EXPECT_EQ(result.state.errorText, L"<a> attribute has error ") << std::wstring(text);
    }
}

TEST(CQXMLElement, UnterminatedBlocksStopAtTheEnd) {
    for (std::wstring_view text :
         {L"<a><!-- never closed", L"<a><![CDATA[never closed", L"<?xml version", L"<!-- x",
          L"<!DOCTYPE a [ <!ENTITY x 'y'> ", L"<a><?pi", L"<a><!DOCTYPE", L"<a>]]></a"}) {
        const auto result = Parse(text);
        EXPECT_FALSE(result.parsed) << std::wstring(text);
        EXPECT_EQ(result.state.errorCode, 2) << std::wstring(text);
        EXPECT_LE(result.state.errorPosition, text.size()) << std::wstring(text);
    }
}

TEST(CQXMLElement, NestingDepthIsBounded) {
    const int depth = CQXMLElement::k_maxDepth;
    const auto deepest = Parse(Repeat(L"<a>", depth) + Repeat(L"</a>", depth));
    EXPECT_TRUE(deepest.parsed) << deepest.state.errorText;

    const auto tooDeep = Parse(Repeat(L"<a>", depth + 1) + Repeat(L"</a>", depth + 1));
    EXPECT_FALSE(tooDeep.parsed);
    EXPECT_EQ(tooDeep.state.errorCode, 4);

    const auto hostile = Parse(Repeat(L"<a>", 200000));
    EXPECT_FALSE(hostile.parsed);
    EXPECT_EQ(hostile.state.errorCode, 4);
}

TEST(CQXMLElement, LargeHostileTextIsParsedInOnePass) {
    const std::wstring ampersands(300000, L'&');
    const auto text = Parse(L"<a>" + ampersands + L"&#65;</a>");
    ASSERT_TRUE(text.parsed);
    EXPECT_EQ(text.root.GetText(), ampersands + L"A");

    std::wstring tag = L"<a";
    for (int index = 0; index < 100000; ++index) {
        tag += L" n" + std::to_wstring(index % 1000) + L"='v'";
    }
    const auto attributes = Parse(tag + L"/>");
    ASSERT_TRUE(attributes.parsed);
    EXPECT_EQ(attributes.root.GetAttributes().size(), 100000u);
    EXPECT_EQ(attributes.root.GetAttribute(L"n999"), L"v");
}

TEST(CQXMLElement, ChildWithoutNameIsDroppedAndParsingMovesOn) {
    const auto result = Parse(L"<a><>lost</><b/></a>");
    ASSERT_TRUE(result.parsed) << result.state.errorText;
    ASSERT_EQ(result.root.GetChildren().size(), 1u);
    EXPECT_EQ(result.root.GetChildren()[0]->GetName(), L"b");
}

TEST(CQXMLElement, OnlyTheFirstErrorIsRecorded) {
    CQXMLElement element;
    SQXMLParseState state;
    EXPECT_FALSE(element.Parse(L"<a></b>", state));
    EXPECT_FALSE(element.Parse(L"<c>", state));
    EXPECT_EQ(state.errorCode, 3);
    EXPECT_EQ(state.errorText, L"'<a> ... </b>' is not wel-formed.");
}

TEST(CQXMLElement, WriterIndentsWithNewLinesAndTabs) {
    CQXMLElement root(L"error");
    CQXMLElement& entry = root.AppendChild(L"errorentry", L"");
    entry.AppendChild(L"description", L"a < b & c > d");
    entry.AppendChild(L"empty", L"");
    EXPECT_EQ(root.Write(),
              L"\r\n<error>\r\n\t<errorentry>\r\n\t\t<description>a &lt; b &amp; c &gt; "
              L"d</description>\r\n\t\t<empty/>\r\n\t</errorentry>\r\n</error>");
    EXPECT_EQ(root.Write({.newLines = false}),
              L"<error><errorentry><description>a &lt; b &amp; c &gt; d</description><empty/>"
              L"</errorentry></error>");
    EXPECT_EQ(entry.Write({.newLines = false, .encodeEntities = false}),
              L"<errorentry><description>a < b & c > d</description><empty/></errorentry>");
    EXPECT_EQ(entry.Write({.depth = 2}).substr(0, 4), L"\r\n\t\t");
}

TEST(CQXMLElement, AttributesAreEncodedAndRoundTrip) {
    CQXMLElement element(L"item");
    element.SetAttribute(L"path", L"\"C:\\a\" & 'b' <c>");
    element.SetAttribute(L"kind", L"1");
    element.SetAttribute(L"kind", L"2");
    const std::wstring text = element.Write({.newLines = false});
    EXPECT_EQ(text, L"<item path=\"&quot;C:\\a&quot; &amp; &apos;b&apos; &lt;c&gt;\" kind=\"2\"/>");
    const auto result = Parse(text);
    ASSERT_TRUE(result.parsed);
    EXPECT_EQ(result.root.GetAttributes().size(), 2u);
    EXPECT_EQ(result.root.GetAttribute(L"path"), L"\"C:\\a\" & 'b' <c>");
}

TEST(CQXMLElement, EmptyElementRoundTrips) {
    const CQXMLElement empty(L"nothing");
    EXPECT_EQ(empty.Write(), L"\r\n<nothing/>");
    const auto result = Parse(empty.Write());
    ASSERT_TRUE(result.parsed);
    EXPECT_EQ(result.root.GetName(), L"nothing");
    EXPECT_EQ(result.root.GetText(), L"");
    EXPECT_TRUE(result.root.GetChildren().empty());
}

TEST(CQXMLElement, CommentsAndCDataAreKeptUnchanged) {
    const auto result = Parse(L"<a><!-- a <note> --><![CDATA[ <x> & y ]]>text<b/></a>");
    ASSERT_TRUE(result.parsed) << result.state.errorText;
    const auto& children = result.root.GetChildren();
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0]->GetKind(), EQXMLKind_Comment);
    EXPECT_EQ(children[0]->GetName(), L"#COMMENT");
    EXPECT_EQ(children[0]->GetText(), L" a <note> ");
    EXPECT_EQ(children[1]->GetKind(), EQXMLKind_CData);
    EXPECT_EQ(children[1]->GetName(), L"#CDATA");
    EXPECT_EQ(children[1]->GetText(), L" <x> & y ");
    EXPECT_EQ(result.root.GetText(), L"text");

    const std::wstring written = result.root.Write({.newLines = false});
    EXPECT_EQ(written, L"<a>text<!-- a <note> --><![CDATA[ <x> & y ]]><b/></a>");
    const auto again = Parse(written);
    ASSERT_TRUE(again.parsed);
    EXPECT_EQ(again.root.Write({.newLines = false}), written);
}

TEST(CQXMLElement, CDataHoldingItsOwnTerminatorSurvivesWriting) {
    CQXMLElement element(L"a");
    element.AppendChild(CQXMLElement::CData(L"x]]>y"));
    const auto result = Parse(element.Write());
    ASSERT_TRUE(result.parsed) << result.state.errorText;
    std::wstring joined;
    for (const auto& child : result.root.GetChildren()) {
        joined += child->GetText();
    }
    EXPECT_EQ(joined, L"x]]>y");
}

TEST(CQXMLElement, DocumentWritesOnlyItsChildren) {
    CQXMLElement document(L"", L"", EQXMLKind_Document);
    document.AppendChild(L"first", L"1");
    document.AppendChild(L"second", L"");
    EXPECT_EQ(document.Write(), L"\r\n<first>1</first>\r\n<second/>");
}

TEST(CQXMLElement, CopiesAreDeepAndOwnTheirChildren) {
    CQXMLElement original(L"root");
    original.AppendChild(L"child", L"").AppendChild(L"grandchild", L"g");
    CQXMLElement copy(original);
    ASSERT_EQ(copy.GetChildren().size(), 1u);
    EXPECT_EQ(copy.GetChildren()[0]->GetParent(), &copy);
    copy.GetChildren()[0]->SetText(L"changed");
    EXPECT_EQ(original.GetChildren()[0]->GetText(), L"");

    CQXMLElement moved(std::move(copy));
    EXPECT_EQ(moved.GetChildren()[0]->GetParent(), &moved);
    EXPECT_EQ(moved.Write(),
              original.Write().replace(original.Write().find(L"<child>"), 7, L"<child>changed"));
}

TEST(CQXMLElement, MakeNameMapsAnyTextToAValidNameInOneFixedWay) {
    EXPECT_EQ(CQXMLElement::MakeName(L"sourcefunction"), L"sourcefunction");
    EXPECT_EQ(CQXMLElement::MakeName(L"Registry-key_2.old"), L"Registry-key_2.old");
    EXPECT_EQ(CQXMLElement::MakeName(L"CQFileUtilities::DeleteDirectory() Path"),
              L"CQFileUtilities.DeleteDirectory.Path");
    EXPECT_EQ(CQXMLElement::MakeName(L"ns:name"), L"ns_name");
    EXPECT_EQ(CQXMLElement::MakeName(L"2nd"), L"_2nd");
    EXPECT_EQ(CQXMLElement::MakeName(L"::x"), L"_.x");
    EXPECT_EQ(CQXMLElement::MakeName(L"caf\u00e9 <&>"), L"caf____");
    EXPECT_EQ(CQXMLElement::MakeName(L" \t"), L"_");
}

// Whatever a tree holds (names of older writers, control characters, comment text with "--"),
// its written form is read by a standard parser, and texts come back as they were.
TEST(CQXMLElement, WrittenTextIsWellFormedForAStandardReader) {
    CQXMLElement root(L"error");
    root.SetAttribute(L"note:x", L"tab\there\nline\rend");
    root.SetAttribute(L"note_x", L"the same name once written");
    CQXMLElement& entry = root.AppendChild(L"errorentry", L"");
    entry.AppendChild(L"CQFileUtilities::DeleteDirectory()Path",
                      L"/tmp/a\x01"
                      L"b\x1f & <c>");
    entry.AppendChild(L"1", std::wstring(L"nul\0in\xfffe text", 15));
    entry.AppendChild(L"", L"no name");
    entry.AppendChild(CQXMLElement::Comment(L"a -- b ---"));
    entry.AppendChild(CQXMLElement::CData(L"x\x02]]>y"));
    entry.AppendChild(L"description", L"surrogate \xd800 alone");

    for (const bool newLines : {true, false}) {
        const std::wstring text = root.Write({.newLines = newLines});
        EXPECT_EQ(StandardReaderError(text), "") << CQStringHelper::StringToMultiByte(text);
    }
    const auto attributes = StandardReaderRootAttributes(root.Write());
    ASSERT_EQ(attributes.size(), 1u);
    EXPECT_EQ(attributes.at("note_x"), "tab\there\nline\rend");

    const auto result = Parse(root.Write());
    ASSERT_TRUE(result.parsed) << result.state.errorText;
    const auto& children = result.root.GetChildren()[0]->GetChildren();
    ASSERT_EQ(children.size(), 7u) << "the CDATA block holding \"]]>\" comes back as two";
    EXPECT_EQ(children[0]->GetName(), L"CQFileUtilities.DeleteDirectory.Path");
    EXPECT_EQ(children[0]->GetText(),
              L"/tmp/a\xfffd"
              L"b\xfffd & <c>");
    EXPECT_EQ(children[1]->GetName(), L"_1");
    EXPECT_EQ(children[2]->GetName(), L"_");
    EXPECT_EQ(children[3]->GetText(), L"a - - b - - - ");
}

TEST(CQXMLElement, TextsOfOlderWritersAreStillRead) {
    const auto result = Parse(
        L"<errorentry><description>bad\x01byte</description>"
        L"<CQFileUtilities::DeleteDirectory()Path>/x</CQFileUtilities::DeleteDirectory()Path>"
        L"<!--a--b--></errorentry>");
    ASSERT_TRUE(result.parsed) << result.state.errorText;
    const auto& children = result.root.GetChildren();
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0]->GetText(), L"bad\x01byte");
    EXPECT_EQ(children[1]->GetName(), L"CQFileUtilities::DeleteDirectory()Path");
    EXPECT_EQ(children[1]->GetText(), L"/x");
    EXPECT_EQ(children[2]->GetText(), L"a--b");
    EXPECT_EQ(StandardReaderError(result.root.Write()), "");
}

// Found by fuzzing: white space at the ends of a text (or a CR) that came from character
// references was written raw, and the next reader trimmed or normalised it away.
TEST(CQXMLElement, WhiteSpaceAtTheEndsOfATextSurvivesWritingAndReading) {
    const auto result = Parse(L"<a><b>&#9; x\ry &#x0D;</b>\x01&#1;&#x0D;</a>");
    ASSERT_TRUE(result.parsed) << result.state.errorText;
    EXPECT_EQ(result.root.GetChildren()[0]->GetText(), L"\t x\ry \r");
    for (const bool newLines : {true, false}) {
        const std::wstring written = result.root.Write({.newLines = newLines});
        EXPECT_EQ(StandardReaderError(written), "");
        const auto again = Parse(written);
        ASSERT_TRUE(again.parsed) << again.state.errorText;
        EXPECT_EQ(again.root.GetChildren()[0]->GetText(), L"\t x\ry \r");
        EXPECT_EQ(again.root.Write({.newLines = newLines}), written);
    }
}
