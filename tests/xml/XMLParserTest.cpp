#include "xml/XMLParser.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

void Load(XMLParser& parser, const std::string& text) {
    parser.LoadFromMemory(text.data(), text.size());
}

// Saves through a real file stream and returns what landed in the file.
std::string SaveToText(XMLParser& parser) {
    FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    // SaveToFile closes the stream it is given, so it gets a second one on
    // the same file and this one stays open for reading back.
    FILE* writer = fdopen(dup(fileno(stream)), "wb");
    EXPECT_TRUE(parser.SaveToFile(writer));
    std::string text;
    std::rewind(stream);
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) text.append(chunk, n);
    std::fclose(stream);
    return text;
}

TEST(XMLNodeLookup, NamesMatchWithoutRegardToAsciiCase) {
    XMLParser parser;
    Load(parser, "<appconfig><paramsetting gatemax=\"8\"/></appconfig>");
    XMLNode section = parser.GetRoot().FindChild("AppConfig").FindChild("ParamSetting");
    ASSERT_TRUE(section);
    EXPECT_STREQ(section.GetName(), "paramsetting");
    EXPECT_STREQ(section.GetAttribute("GateMax"), "8");
    EXPECT_STREQ(section.GetAttribute("GATEMAX"), "8");
    EXPECT_EQ(section.GetAttribute("GateMa"), nullptr);
    EXPECT_EQ(section.GetAttribute("GateMaxx"), nullptr);
}

TEST(XMLNodeLookup, BytesOutsideAsciiMustMatchExactly) {
    XMLParser parser;
    Load(parser, "<r \xc3\xa4=\"lower\"><\xc3\xa4/></r>");  // "ä"
    XMLNode root = parser.GetRoot().FindChild("r");
    EXPECT_EQ(root.GetAttribute("\xc3\x84"), nullptr);  // "Ä"
    EXPECT_STREQ(root.GetAttribute("\xc3\xa4"), "lower");
    EXPECT_FALSE(root.FindChild("\xc3\x84"));
    EXPECT_TRUE(root.FindChild("\xc3\xa4"));
}

TEST(XMLNodeLookup, OnlyElementsAreFoundAndTheFirstMatchWins) {
    XMLParser parser;
    Load(parser, "<?AppConfig pi?><!--AppConfig--><AppConfig n=\"1\"/><APPCONFIG n=\"2\"/>");
    XMLNode found = parser.GetRoot().FindChild("appconfig");
    ASSERT_TRUE(found);
    EXPECT_EQ(found.Node().type(), pugi::node_element);
    EXPECT_STREQ(found.GetAttribute("n"), "1");
}

TEST(XMLNodeLookup, MissingEmptyAndUnsetAttributesAreDistinct) {
    XMLParser parser;
    Load(parser, "<r empty=\"\"/>");
    XMLNode root = parser.GetRoot().FindChild("r");
    ASSERT_NE(root.GetAttribute("empty"), nullptr);
    EXPECT_STREQ(root.GetAttribute("empty"), "");
    EXPECT_EQ(root.GetAttribute("missing"), nullptr);
    EXPECT_EQ(XMLNode().GetAttribute("empty"), nullptr);
    EXPECT_EQ(root.GetAttribute(nullptr), nullptr);
    EXPECT_FALSE(XMLNode().FindChild("r"));
}

TEST(XMLNodeWriting, ReplacesAValueUnderTheSpellingOfTheFile) {
    XMLParser parser;
    Load(parser, "<RadarParam gatemax=\"8\"/>");
    XMLNode root = parser.GetRoot().FindChild("RadarParam");
    root.SetAttributeInt("GateMax", 5);
    const std::string saved = SaveToText(parser);
    EXPECT_NE(saved.find("gatemax=\"5\""), std::string::npos) << saved;
    EXPECT_EQ(saved.find("GateMax"), std::string::npos) << saved;
}

TEST(XMLNodeWriting, UnknownContentSurvivesAndAdditionsGoAtTheEnd) {
    XMLParser parser;
    Load(parser,
         "<!-- by hand --><AppConfig Custom=\"keep me\" BaudRate=\"9600\"><Mine "
         "x=\"1\"/></AppConfig><Other/>");
    XMLNode config = parser.GetRoot().FindChild("AppConfig");
    config.SetAttributeInt("BaudRate", 115200);
    config.SetAttribute("Added", "yes");
    config.FindOrAddChild("ParamSetting").SetAttribute("GateMax", "8");
    config.FindOrAddChild("ObjectInfo");
    const std::string saved = SaveToText(parser);
    EXPECT_NE(saved.find("<!-- by hand -->"), std::string::npos);
    EXPECT_NE(saved.find("<Other />"), std::string::npos);
    EXPECT_NE(saved.find("<AppConfig Custom=\"keep me\" BaudRate=\"115200\" Added=\"yes\">"),
              std::string::npos)
        << saved;
    const size_t mine = saved.find("<Mine x=\"1\" />");
    const size_t param = saved.find("<ParamSetting GateMax=\"8\" />");
    const size_t object = saved.find("<ObjectInfo />");
    ASSERT_NE(mine, std::string::npos);
    ASSERT_NE(param, std::string::npos);
    ASSERT_NE(object, std::string::npos);
    EXPECT_LT(mine, param);
    EXPECT_LT(param, object);
}

TEST(XMLNodeWriting, NumbersUseTheFixedFormats) {
    XMLParser parser;
    XMLNode node = parser.GetRoot().AddChild("n");
    node.SetAttributeHex("color", 0xFF000000u);
    EXPECT_STREQ(node.GetAttribute("color"), "0xff000000");
    node.SetAttributeHex("color", 0);
    EXPECT_STREQ(node.GetAttribute("color"), "0x00000000");
    node.SetAttributeInt("v", -1);
    EXPECT_STREQ(node.GetAttribute("v"), "-1");
    // Longer than any setting the program writes, but never cut or overrun.
    node.SetAttributeInt("v", INT64_MIN);
    EXPECT_STREQ(node.GetAttribute("v"), "-9223372036854775808");
    node.SetAttributeInt("v", INT64_MAX);
    EXPECT_STREQ(node.GetAttribute("v"), "9223372036854775807");
}

TEST(XMLNodeWriting, OnlyDocumentsAndElementsGrowChildren) {
    XMLParser parser;
    EXPECT_FALSE(XMLNode().FindOrAddChild("AppConfig"));
    EXPECT_FALSE(XMLNode().AddChild("AppConfig"));
    Load(parser, "<r>text</r>");
    XMLNode text(parser.GetRoot().FindChild("r").Node().first_child());
    ASSERT_EQ(text.Node().type(), pugi::node_pcdata);
    EXPECT_FALSE(text.FindOrAddChild("x"));
    text.SetAttribute("a", "1");
    parser.GetRoot().SetAttribute("a", "1");  // the document holds no attributes
    EXPECT_EQ(SaveToText(parser), "<?xml version=\"1.0\"?>\n<r>text</r>\n");

    XMLNode added = parser.GetRoot().FindOrAddChild("Second");
    ASSERT_TRUE(added);
    EXPECT_EQ(parser.GetRoot().FindOrAddChild("SECOND").Node(), added.Node());
}

TEST(XMLNodeWriting, SetAttributeWorksOnADeclarationAndTakesNoTextAsEmpty) {
    XMLParser parser;
    Load(parser, "<?xml version=\"1.0\"?><r/>");
    XMLNode declaration(parser.GetRoot().Node().first_child());
    ASSERT_EQ(declaration.Node().type(), pugi::node_declaration);
    declaration.SetAttribute("encoding", "UTF-8");
    EXPECT_STREQ(declaration.GetAttribute("encoding"), "UTF-8");
    XMLNode root = parser.GetRoot().FindChild("r");
    root.SetAttribute("a", nullptr);
    EXPECT_STREQ(root.GetAttribute("a"), "");
    // The file gets the wrapper's own declaration all the same.
    EXPECT_EQ(SaveToText(parser), "<?xml version=\"1.0\"?>\n<r a=\"\" />\n");
}

TEST(XMLParserSave, WritesItsOwnPlainDeclarationWhateverWasLoaded) {
    XMLParser parser;
    EXPECT_EQ(SaveToText(parser), "<?xml version=\"1.0\"?>\n");

    Load(parser, "<AppConfig><ParamSetting/></AppConfig>");
    EXPECT_EQ(SaveToText(parser),
              "<?xml version=\"1.0\"?>\n<AppConfig>\n\t<ParamSetting />\n</AppConfig>\n");

    for (const std::string declaration :
         {"<?xml version=\"1.0\"?>", "<?xml version=\"1.0\" encoding=\"utf-8\"?>",
          "<?xml version=\"1.1\" encoding=\"UTF-16\" standalone=\"yes\"?>"}) {
        Load(parser, declaration + "\n<!-- kept --><AppConfig/>");
        EXPECT_EQ(SaveToText(parser), "<?xml version=\"1.0\"?>\n<!-- kept -->\n<AppConfig />\n")
            << declaration;
    }
}

// Each file is loaded, saved, loaded again and saved again: the text must
// come back as it was, and the second save must equal the first.
TEST(XMLParserSave, ForeignDeclarationsDoNotSpoilTheNextLoad) {
    const std::string parametres = "Param\xc3\xa8tres";  // "Paramètres" in UTF-8
    struct Case {
        const char* what;
        std::string file;
    };
    const std::u16string utf16 =
        u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><r n=\"Param\u00e8tres\"/>";
    const Case cases[] = {
        {"Latin-1 text under its own label",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r n=\"Param\xe8tres\"/>"},
        {"UTF-8 text labelled UTF-16",
         "<?xml version=\"1.0\" encoding=\"UTF-16\"?><r n=\"" + parametres + "\"/>"},
        {"UTF-16 text with a byte-order mark",
         std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2)},
        {"a declaration value holding the end mark \"?>\"",
         "<?xml version=\"1.0\" a=\"?&gt;\"?>\n<r n=\"" + parametres + "\"/>"},
    };
    const std::string expected = "<?xml version=\"1.0\"?>\n<r n=\"" + parametres + "\" />\n";
    for (const Case& c : cases) {
        XMLParser first;
        Load(first, c.file);
        const std::string saved = SaveToText(first);
        EXPECT_EQ(saved, expected) << c.what;

        XMLParser second;
        Load(second, saved);
        EXPECT_STREQ(second.GetRoot().FindChild("r").GetAttribute("n"), parametres.c_str())
            << c.what;
        EXPECT_EQ(SaveToText(second), saved) << c.what;
    }
}

TEST(XMLParserSave, ReportsMissingAndFailingStreams) {
    XMLParser parser;
    Load(parser, "<AppConfig/>");
    EXPECT_FALSE(parser.SaveToFile(nullptr));
    // A full disk often shows only when the buffer is flushed on close.
    FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(parser.SaveToFile(full));
    FILE* readOnly = std::fopen("/dev/null", "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_FALSE(parser.SaveToFile(readOnly));
}

// A deep document saves without the indentation that would grow with the
// square of its depth; one too large to parse in bounded memory is refused.
TEST(XMLParserSave, HostileDocumentsCostInProportionToTheirSize) {
    std::string text;
    for (int level = 0; level < 40000; ++level) text += level < 20000 ? "<a>" : "</a>";
    XMLParser parser;
    ASSERT_TRUE(parser.LoadFromMemory(text.data(), text.size()));
    EXPECT_LT(SaveToText(parser).size(), 2 * text.size());
    text.resize(XMLParser::kMaxDocumentSize + 1, ' ');
    EXPECT_FALSE(parser.LoadFromMemory(text.data(), text.size()));
    EXPECT_NE(parser.LoadError().find("larger than 4 MiB"), std::string::npos);
}

TEST(XMLParserLoad, ReadsUtf16WithByteOrderMark) {
    // "<AppConfig Name="é"/>" in UTF-16 little-endian with a BOM.
    const std::u16string text = u"\uFEFF<AppConfig Name=\"\u00e9\"/>";
    XMLParser parser;
    parser.LoadFromMemory(text.data(), text.size() * sizeof(char16_t));
    XMLNode config = parser.GetRoot().FindChild("appconfig");
    ASSERT_TRUE(config);
    EXPECT_STREQ(config.GetAttribute("name"), "\xc3\xa9");
}

TEST(XMLParserLoad, DiscardsThePreviousDocumentAndSurvivesBadInput) {
    XMLParser parser;
    Load(parser, "<First/>");
    Load(parser, "<Second/>");
    EXPECT_FALSE(parser.GetRoot().FindChild("First"));
    EXPECT_TRUE(parser.GetRoot().FindChild("Second"));

    EXPECT_FALSE(parser.LoadFromMemory(nullptr, 5));
    EXPECT_FALSE(parser.GetRoot().FindChild("Second"));
    parser.LoadFromMemory(nullptr, 0);
    EXPECT_FALSE(parser.GetRoot().FindChild("Second"));

    Load(parser, "this is not XML at all \x01\x02");
    EXPECT_FALSE(parser.GetRoot().FindChild("AppConfig"));
    Load(parser, "<AppConfig BaudRate=\"9600\"><ParamSetting");
    EXPECT_STREQ(parser.GetRoot().FindChild("AppConfig").GetAttribute("BaudRate"), "9600");

    parser.Clear();
    EXPECT_FALSE(parser.GetRoot().FindChild("AppConfig"));
}

}  // namespace
