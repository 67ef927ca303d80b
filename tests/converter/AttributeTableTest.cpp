// The table of elements and attributes against a document the export wrote:
// the document reference and checking are made from the table, so an
// attribute the export writes that the table lacks would be refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <tinyxml.h>

#include "Attributes.h"
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

}  // namespace
