#include "Attributes.h"

#include "KindTable.h"

namespace orb {

const Elements& RootElements() {
    static const Elements root = {
        {"ORB",
         "",
         "the document: one element per resource in the package's block order, then the panel of the widgets",
         {Words("version", {"v1"}, Need::Required, "the format's version; exactly \"v1\""),
          Of("source", ValueType::PackagePath, Need::Optional,
             "the package the document was exported from, relative to the document's folder; the import writes it "
             "when no output package is given (it must then lie inside the document's folder)"),
          Of("date", ValueType::Text, Need::WrittenOnly,
             "when the package was last written (\"Www Mmm dd hh:mm:ss yyyy\" and a line feed)"),
          Of("creator", ValueType::Text, Need::WrittenOnly, "the program that wrote the document"),
          {"totalblocks",
           ValueType::Integer,
           kIntMin,
           kIntMax,
           {},
           "0",
           Need::Optional,
           nullptr,
           "the package blocks the document stands for (one per resource, widget and state image); an import that "
           "stores another number says so"}}},
    };
    return root;
}

std::vector<const Element*> AllElements() {
    std::vector<const Element*> all;
    for (const Element& e : RootElements()) all.push_back(&e);
    for (const KindSpec* kind : KindTable())
        for (const Element& e : *kind->elements) all.push_back(&e);
    return all;
}

}  // namespace orb
