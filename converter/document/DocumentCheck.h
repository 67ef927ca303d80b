// The strict check of an ORBv1 document against the table of its elements
// and attributes (kinds/Attributes.h), made before the import takes any of
// it. Every unknown element or attribute, a value outside its words or its
// range and a number that is not a whole decimal number is a problem that
// names its line and column; the element that holds it is not imported (for
// a widget, only that widget), and the run counts it as failed. A document
// that is no XML at all says where the parser stopped and what it found.
//
// The import walks the same elements in the same order through the SDK's
// XML slots; it asks here, once per element, whether the element passed.
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <vector>

class DocumentCheck {
public:
    enum class Result { Ok, Unreadable, Malformed };
    DocumentCheck() = default;
    ~DocumentCheck();
    DocumentCheck(const DocumentCheck&) = delete;
    DocumentCheck& operator=(const DocumentCheck&) = delete;
    // Reads and checks the document at path. Malformed: error() says where
    // and what ("line 3, column 7: ..."); Unreadable: the file cannot be
    // read (error() is empty).
    Result Load(const char* path);
    const std::string& error() const { return error_; }
    // The SDK's streamed document that Load read the root through, open at
    // the root, for the caller to close; 0 when Load had none to keep (the
    // caller then opens the document itself).
    int TakeStream();

    // Why the document has no ORBv1 root, with its place; empty when it has.
    const std::string& rootCause() const { return rootCause_; }
    // The problems of the root element itself, each "line L, column C: ...".
    const std::vector<std::string>& RootProblems() const { return rootProblems_; }
    // The problems of the index-th element child of the root (from 0), or
    // of the index-th widget of that child when it is the panel; empty when
    // it passed (or lies beyond what was checked).
    const std::vector<std::string>& ChildProblems(size_t index) const;
    // Checks the root child the handle points at, the index-th, forgetting
    // the one before: only the element being imported is ever held.
    void CheckCurrent(int handle, size_t index);
    const std::vector<std::string>& WidgetProblems(size_t panel, size_t index) const;
    // The name the warnings show for the index-th root child: its "name",
    // else its tag in angle brackets.
    std::string ChildName(size_t index) const;
    // The word the warnings show for it: its kind's word, or "element".
    std::string ChildWord(size_t index) const;

private:
    struct Child {
        std::string tag, name;
        std::vector<std::string> problems;
        std::vector<std::vector<std::string>> widgets;
    };
    std::string error_;
    std::string rootCause_;
    std::vector<std::string> rootProblems_;
    // The root child being imported, when it holds a problem.
    std::map<size_t, Child> children_;
    int stream_ = 0;

    // The root read through the SDK's streamed document (its children one
    // at a time); false when it has no ORBv1 root or cannot be streamed,
    // which the whole parse then explains.
    bool CheckStreamed(const char* path);
    Result CheckWhole(const std::string& text);
    void CheckChild(size_t index, const class TiXmlElement* c);
};

// Prints the warning for a root child the check refused and its causes;
// true when it was refused (the caller counts it as failed and skips it).
bool RefusedByCheck(const DocumentCheck& check, size_t index);
// The same for a widget of the panel at root child panel.
bool WidgetRefusedByCheck(const DocumentCheck& check, size_t panel, size_t index, const std::string& name);
