#include "host/xml.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace torvane {
namespace {

using ::testing::HasSubstr;

class Thing : public Object {
 public:
  std::string path = "C:\\a";
  bool failOwner = false;
  static const ClassInfo& Class() {
    static const ClassInfo info = ClassInfo::Make<Thing>(
        "Thing", {
                     {"Path", MemberKind::Get, {}, [](Thing& t, Args&) { return Variant(t.path); }},
                     {"Owner", MemberKind::Get, {}, [](Thing& t, Args&) -> Variant {
                        if (t.failOwner) throw Error(5, "no owner");
                        return Variant("root");
                      }},
                     {"Size", MemberKind::Get, {}, [](Thing&, Args&) { return Variant(int32_t{-12}); }},
                     {"Flag", MemberKind::Get, {}, [](Thing&, Args&) { return Variant(true); }},
                     {"ToXML", MemberKind::Method, {{"Properties", true}, {"ExtraXML", true}},
                      [](Thing& t, Args& a) {
                        return Variant(RenderObjectXml(t, "thing", "flag,owner,path,size", a[0], a[1]));
                      }},
                 });
    return info;
  }
  const ClassInfo& classInfo() const override { return Class(); }
};

struct XmlCase {
  Variant properties;
  Variant extra;
  std::string want;
};

TEST(RenderObjectXml, PropertyListRules) {
  Thing t;
  std::vector<XmlCase> cases = {
      {Variant::Missing(), Variant::Missing(), "<thing><flag>True</flag><owner>root</owner><path>C:\\a</path><size>-12</size></thing>"},
      {Variant("path,path"), Variant::Missing(), "<thing><path>C:\\a</path><path>C:\\a</path></thing>"},
      {Variant("Path"), Variant::Missing(), "<thing></thing>"},
      {Variant(" size"), Variant::Missing(), "<thing></thing>"},
      {Variant(""), Variant::Missing(), "<thing></thing>"},
      {Variant("size,nothing"), Variant("<x a=\"1\"/>"), "<thing><size>-12</size><x a=\"1\"/></thing>"},
  };
  for (const auto& c : cases) EXPECT_EQ(RenderObjectXml(t, "thing", "flag,owner,path,size", c.properties, c.extra), c.want);
}

TEST(RenderObjectXml, FailingGetterIsLeftOut) {
  Thing t;
  t.failOwner = true;
  EXPECT_EQ(RenderObjectXml(t, "thing", "flag,owner,path,size", Variant::Missing(), Variant::Missing()),
            "<thing><flag>True</flag><path>C:\\a</path><size>-12</size></thing>");
}

TEST(RenderObjectXml, ClientValuesAreEscaped) {
  Thing t;
  t.path = "<script>&.txt";
  EXPECT_EQ(RenderObjectXml(t, "thing", "path", Variant("path"), Variant::Missing()),
            "<thing><path>&lt;script&gt;&amp;.txt</path></thing>");
}

TEST(RenderObjectXml, CharactersXmlCannotCarryAreReplaced) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::string value, want;
  };
  std::vector<Case> cases = {
      {"a\x01" "b", "a" + fffd + "b"},                          // a control character from a client
      {std::string("n\0l", 3), "n" + fffd + "l"},
      {"tab\tlf\ncr\r", "tab\tlf\ncr\r"},                     // the three that XML allows
      {"\x1F\x7F", fffd + "\x7F"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"bad\xFF" "byte", "bad" + fffd + "byte"},                    // not UTF-8
      {"\xED\xA0\x80", fffd + fffd + fffd},                       // a surrogate
      {"\xEF\xBF\xBE\xEF\xBF\xBF", fffd + fffd + fffd + fffd + fffd + fffd},  // U+FFFE and U+FFFF
      {"cut\xE2\x82", "cut" + fffd + fffd},
  };
  Thing t;
  for (const auto& c : cases) {
    t.path = c.value;
    EXPECT_EQ(RenderObjectXml(t, "thing", "path", Variant("path"), Variant::Missing()),
              "<thing><path>" + c.want + "</path></thing>")
        << c.value;
  }
}

TEST(RenderCollectionXml, ItemsInOrderFailuresSkipped) {
  auto a = std::make_shared<Thing>();
  auto b = std::make_shared<Thing>();
  b->path = "B";
  std::vector<Variant> items{Variant(ObjectRef(a)), Variant("not an object"), Variant(ObjectRef(b))};
  std::string xml = RenderCollectionXml("things", items, Variant("<end/>"));
  EXPECT_EQ(xml.rfind("<things><thing>", 0), 0u);
  EXPECT_THAT(xml, HasSubstr("<path>B</path><size>-12</size></thing><end/></things>"));
  EXPECT_EQ(RenderCollectionXml("things", {}, Variant::Missing()), "<things></things>");
}

}  // namespace
}  // namespace torvane
