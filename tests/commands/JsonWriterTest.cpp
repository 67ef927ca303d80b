// The JSON writer: untrusted bytes never produce an invalid document. (The
// safe text of names on the console is checked through --list.)
#include <limits>

#include "JsonWriter.h"
#include "Support.h"

using testsupport::Contains;
using testsupport::Jq;
using testsupport::PythonParses;

TEST(JsonQuote, KeepsUtf8AndReadsEveryOtherByteAsLatin1) {
    EXPECT_EQ(json::Quote("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"),
              "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"");
    EXPECT_EQ(json::Quote("\xff"), "\"\\u00ff\"");
    EXPECT_EQ(json::Quote("\xc2\x9b"), "\"\\u009b\"");                               // C1 control
    EXPECT_EQ(json::Quote("\xc0\xaf"), "\"\\u00c0\\u00af\"");                        // overlong "/"
    EXPECT_EQ(json::Quote("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");             // surrogate
    EXPECT_EQ(json::Quote("\xe2\x82"), "\"\\u00e2\\u0082\"");                        // cut short
    EXPECT_EQ(json::Quote("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");  // above U+10FFFF
}

TEST(JsonWriter, NestedDocumentIsReadBackByIndependentParsers) {
    json::Writer w;
    std::string hostile;
    for (int c = 0; c < 256; ++c) hostile += static_cast<char>(c);
    w.BeginObject()
        .Field("name", hostile)
        .Field("big", std::numeric_limits<uint64_t>::max())
        .Field("small", std::numeric_limits<int64_t>::min())
        .Field("flag", false);
    w.Key("empty").BeginArray().EndArray();
    w.Key("none").BeginObject().EndObject();
    w.Key("list").BeginArray().Int(-1).String("x").Null().BeginObject().Field("k", true).EndObject().EndArray();
    w.EndObject();
    ASSERT_TRUE(w.complete());
    const std::string doc = w.str();
    EXPECT_TRUE(PythonParses(doc)) << doc;
    std::string v;
    // jq reads numbers as doubles: the extremes are checked in the text.
    EXPECT_TRUE(Contains(doc, "\"big\": 18446744073709551615,")) << doc;
    EXPECT_TRUE(Contains(doc, "\"small\": -9223372036854775808,")) << doc;
    ASSERT_EQ(
        Jq(doc, "[.flag, (.empty | length), (.none | length), .list[0], .list[1], .list[2], .list[3].k] | @csv", v), 0)
        << doc;
    EXPECT_EQ(v, "false,0,0,-1,\"x\",,true");
    // Every byte comes back: ASCII as itself, the rest as Latin-1 code points.
    ASSERT_EQ(Jq(doc, ".name | explode | (length == 256 and . == [range(256)])", v), 0);
    EXPECT_EQ(v, "true");
}

TEST(JsonWriter, MisplacedCallsLeaveTheDocumentMarkedIncomplete) {
    json::Writer a, b, c, d, e;
    a.BeginObject().Int(1).EndObject();    // a value without a key
    b.BeginArray().Int(1);                 // not closed
    c.BeginArray().EndObject();            // closed by the wrong end
    d.Int(1).Int(2);                       // two values
    e.BeginObject().Key("a").EndObject();  // a key without a value
    for (const json::Writer* w : {&a, &b, &c, &d, &e}) EXPECT_FALSE(w->complete());
}
