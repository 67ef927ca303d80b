// The table of elements and attributes against a document the export wrote:
// the document reference and checking are made from the table, so an
// attribute the export writes that the table lacks would be refused.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include <tinyxml.h>

#include "Attributes.h"
#include "ReferenceTables.h"
#include "Support.h"

namespace {

const orb::Element* Find(const char* tag, const char* parent) {
    for (const orb::Element* e : orb::AllElements())
        if (std::strcmp(e->tag, tag) == 0 && std::strcmp(e->parent, parent) == 0) return e;
    return nullptr;
}

void ExpectInTable(const TiXmlElement* node, const char* parent, std::string& missing) {
    const orb::Element* row = Find(node->Value(), parent);
    if (!row) missing += std::string(" <") + node->Value() + "> in <" + parent + ">";
    for (const TiXmlAttribute* a = node->FirstAttribute(); row && a; a = a->Next()) {
        bool found = false;
        for (const orb::Attribute& r : row->attributes) found = found || std::strcmp(r.name, a->Name()) == 0;
        if (!found) missing += std::string(" ") + node->Value() + "@" + a->Name();
    }
    for (const TiXmlElement* c = node->FirstChildElement(); c; c = c->NextSiblingElement())
        ExpectInTable(c, node->Value(), missing);
}

TEST(AttributeTable, HoldsEveryElementAndAttributeTheExampleDocumentHas) {
    TiXmlDocument doc((testsupport::SourceDir() + "/examples/demo.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    std::string missing;
    ExpectInTable(doc.RootElement(), "", missing);
    EXPECT_EQ(missing, "");
}

// Regenerate with: build/orbv1_tables docs/orbv1.md
TEST(Reference, DocumentFormatTablesAreWhatTheTableOfElementsGives) {
    const auto bytes = testsupport::ReadFile(testsupport::SourceDir() + "/docs/orbv1.md");
    const std::string text(bytes.begin(), bytes.end());
    std::string made;
    ASSERT_TRUE(orb::WithReferenceTables(text, made));
    EXPECT_TRUE(made == text) << "docs/orbv1.md differs from the table of elements; run tools/orbv1_tables on it";
}

// A document written from docs/orbv1.md alone, one resource of every kind.
TEST(Reference, DocumentWrittenFromTheReferenceImportsOnTheFirstTry) {
    testsupport::TempDir dir;
    std::filesystem::copy(testsupport::SourceDir() + "/examples/demo", dir / "demo");
    std::filesystem::copy(testsupport::SourceDir() + "/tests/data/reference-example/doc.xml", dir / "doc.xml");
    std::string out;
    ASSERT_EQ(testsupport::RunBundlex({"doc.xml", "p.vlt"}, out, dir.path()), 0) << out;
    EXPECT_TRUE(
        testsupport::ContainsAll(out, {" - 14/14: IMG 2 - TIL 2 - SPR 1 - FNT 1 - MUS 1 - SND 1 - FIL 2 - GUI 1\r",
                                       " - XML imported successfully into a new VLT.\n"}))
        << out;
    EXPECT_FALSE(testsupport::Contains(out, "WARNING")) << out;
}

}  // namespace
