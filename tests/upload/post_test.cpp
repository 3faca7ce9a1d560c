#include "upload/post.h"

#include <gtest/gtest.h>

#include "dirs/directory.h"
#include "files/file.h"
#include "platform/paths.h"
#include "progress/progress_bar.h"
#include "host/script_context.h"
#include "support/memhost.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::MemHost;
using test::TempDir;
using test::TraceMessages;

// A File named by the physical (DOS-form) path of a native test path.
ObjectRef FileNamed(const std::string& path) {
  auto f = std::static_pointer_cast<File>(File::Create());
  f->SetName(ToDosPath(path));
  return f;
}

class PostTest : public ::testing::Test {
 protected:
  MemHost host;
  MemHost::Scope scope{host};
  TempDir dir;
};

TEST_F(PostTest, DefaultsAndXml) {
  ObjectRef post = Post::Create();
  EXPECT_EQ(post->Get("MaxFileSize").toInt64(), -1);
  EXPECT_EQ(post->Get("maxtotalfilesize").toInt64(), -1);
  EXPECT_EQ(post->Get("CodePage").toInt32(), 0);
  EXPECT_TRUE(post->Get("CheckMacBinary").toBool());
  EXPECT_EQ(post->Get("ProgressBarID").toString(), "");
  EXPECT_TRUE(post->Get("Directory").isNull());
  EXPECT_EQ(post->Invoke("ToXML", CallKind::Method, Args{}).toString(),
            "<post><checkmacbinary>True</checkmacbinary><codepage>0</codepage><maxfilesize>-1</maxfilesize>"
            "<maxtotalfilesize>-1</maxtotalfilesize><progressbarid></progressbarid></post>");
  EXPECT_EQ(post->Invoke("ToXML", CallKind::Method, Args{Variant("")}).toString(), "<post></post>");
}

TEST_F(PostTest, CreationOutsideAPageFails) {
  ClearScriptContext();
  torvane::ObjectContextScope none(nullptr);
  EXPECT_EQ(ThrownError([] { Post::Create(); }).number, err::ObjectNotSet);
}

TEST_F(PostTest, EveryTracedMemberWritesItsLine) {
  ObjectRef post = Post::Create();
  post->Invoke("TraceFile", CallKind::Set, {Variant(FileNamed(dir / "trace.log"))});
  auto d = Directory::New();
  post->Invoke("Directory", CallKind::Set, {Variant(ObjectRef(d))});
  post->Get("Directory");
  post->Get("TraceFile");
  post->Invoke("DumpFile", CallKind::Set, {Variant(FileNamed(dir / "dump.bin"))});
  post->Get("DumpFile");
  post->Invoke("MaxTotalFileSize", CallKind::Let, {Variant(int32_t{10})});
  post->Get("CodePage");
  post->Invoke("CodePage", CallKind::Let, {Variant(int32_t{65001})});
  post->Get("MaxTotalFileSize");
  post->Invoke("MaxFileSize", CallKind::Let, {Variant(int32_t{5})});
  post->Get("MaxFileSize");
  post->Get("ProgressBarID");
  post->Invoke("CheckMacBinary", CallKind::Let, {Variant(false)});  // untraced
  post->Get("CheckMacBinary");                                      // untraced
  std::vector<std::string> want = {
      "TraceLog Opened",
      "Post.SetTraceFile - Set TraceFile object.",
      "Post.SetDirectory - Set Directory object.",
      "Post.GetDirectory - Returned Directory object.",
      "Post.GetTraceFile - Returned TraceFile object.",
      "Post.SetDumpFile - Set DumpFile object.",
      "Post.GetDumpFile - Returned DumpFile object.",
      "Post.LetMaxTotalFileSize - Set MaxTotalFileSize value.",
      "Post.GetCodePage - Returned CodePage value.",
      "Post.LetCodePage - Set CodePage value.",
      "Post.GetMaxTotalFileSize - Returned MaxTotalFileSize value.",
      "Post.LetMaxFileSize - Set MaxFileSize value.",
      "Post.GetMaxFileSize - Returned MaxFileSize value.",
      "Post.GetProgressBarID - Returned ProgressBarID value.",
  };
  EXPECT_EQ(TraceMessages(dir / "trace.log"), want);
}

TEST_F(PostTest, RequestLimitMembersTraceAndKeepTheirValues) {
  ObjectRef post = Post::Create();
  post->Invoke("TraceFile", CallKind::Set, {Variant(FileNamed(dir / "limits.log"))});
  post->Invoke("MaxFiles", CallKind::Let, {Variant(int32_t{3})});
  post->Invoke("maxparts", CallKind::Let, {Variant("4")});
  post->Invoke("MaxFieldSize", CallKind::Let, {Variant(int64_t{5000000000LL})});
  post->Invoke("MaxTotalFieldSize", CallKind::Let, {Variant(int32_t{-1})});
  EXPECT_EQ(post->Get("MaxFiles").toInt32(), 3);
  EXPECT_EQ(post->Get("MaxParts").toInt32(), 4);
  EXPECT_EQ(post->Get("MaxFieldSize").toInt64(), 5000000000LL);
  EXPECT_EQ(post->Get("MaxTotalFieldSize").toInt64(), -1);
  std::vector<std::string> want = {
      "TraceLog Opened",
      "Post.SetTraceFile - Set TraceFile object.",
      "Post.LetMaxFiles - Set MaxFiles value.",
      "Post.LetMaxParts - Set MaxParts value.",
      "Post.LetMaxFieldSize - Set MaxFieldSize value.",
      "Post.LetMaxTotalFieldSize - Set MaxTotalFieldSize value.",
      "Post.GetMaxFiles - Returned MaxFiles value.",
      "Post.GetMaxParts - Returned MaxParts value.",
      "Post.GetMaxFieldSize - Returned MaxFieldSize value.",
      "Post.GetMaxTotalFieldSize - Returned MaxTotalFieldSize value.",
  };
  EXPECT_EQ(TraceMessages(dir / "limits.log"), want);
  // ToXML renders the original five properties only.
  EXPECT_EQ(post->Invoke("ToXML", CallKind::Method, {Variant("maxfiles,maxparts")}).toString(), "<post></post>");
}

TEST_F(PostTest, ToXmlReadsThroughTheTracedGetters) {
  ObjectRef post = Post::Create();
  post->Invoke("TraceFile", CallKind::Set, {Variant(FileNamed(dir / "t.log"))});
  post->Invoke("ToXML", CallKind::Method, {Variant("codepage,maxfilesize")});
  auto lines = TraceMessages(dir / "t.log");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "Post.GetCodePage - Returned CodePage value.");
  EXPECT_EQ(lines[3], "Post.GetMaxFileSize - Returned MaxFileSize value.");
}

TEST_F(PostTest, FormInputsAssignmentIsRefused) {
  ObjectRef post = Post::Create();
  post->Invoke("TraceFile", CallKind::Set, {Variant(FileNamed(dir / "t.log"))});
  Error e = ThrownError([&] { post->Invoke("FormInputs", CallKind::Set, {Variant(CFormInput::Create())}); });
  EXPECT_EQ(e.number, 9010);
  EXPECT_EQ(e.description, "Post.SetFormInputs - FormInputs is readonly for Post Objects.");
  EXPECT_EQ(e.source, "Torvane.Post");
  EXPECT_EQ(TraceMessages(dir / "t.log").back(), "Post.SetFormInputs - FormInputs is readonly for Post Objects.");
}

TEST_F(PostTest, SizeLimitsAreSixtyFourBit) {
  ObjectRef post = Post::Create();
  post->Invoke("MaxFileSize", CallKind::Let, {Variant("5000000000")});
  post->Invoke("MaxTotalFileSize", CallKind::Let, {Variant(int64_t{6000000000LL})});
  EXPECT_EQ(post->Get("MaxFileSize").toInt64(), 5000000000LL);
  EXPECT_EQ(post->Get("MaxTotalFileSize").toInt64(), 6000000000LL);
  post->Invoke("MaxFileSize", CallKind::Let, {Variant(int32_t{1024})});
  Variant small = post->Get("MaxFileSize");
  EXPECT_EQ(small.type(), VType::I4);  // values that fit stay 32-bit
  EXPECT_EQ(post->Invoke("ToXML", CallKind::Method, {Variant("maxtotalfilesize")}).toString(),
            "<post><maxtotalfilesize>6000000000</maxtotalfilesize></post>");
}

TEST_F(PostTest, DirectoryAcceptsOnlyDirectoryObjects) {
  ObjectRef post = Post::Create();
  EXPECT_EQ(ThrownError([&] { post->Invoke("Directory", CallKind::Set, {Variant(FileNamed("x"))}); }).number,
            err::TypeMismatch);
  EXPECT_TRUE(post->Get("Directory").isNull());
  auto d = Directory::New();
  post->Invoke("Directory", CallKind::Set, {Variant(ObjectRef(d))});
  EXPECT_EQ(post->Get("Directory").obj(), d);
  post->Invoke("Directory", CallKind::Set, {Variant::Null()});  // Nothing clears it
  EXPECT_TRUE(post->Get("Directory").isNull());
}

TEST_F(PostTest, DumpFileStartsEmpty) {
  std::string path = dir / "dump.bin";
  test::WriteFile(path, std::string(5000, 'x'));
  auto post = Post::CreateTyped();
  post->SetDumpFile(Variant(FileNamed(path)));
  EXPECT_EQ(test::ReadFile(path), "");
}

TEST_F(PostTest, DumpFileFailureTracesBothLinesAndRaises) {
  ObjectRef post = Post::Create();
  post->Invoke("TraceFile", CallKind::Set, {Variant(FileNamed(dir / "t.log"))});
  int number = ThrownError(
      [&] { post->Invoke("DumpFile", CallKind::Set, {Variant(FileNamed(dir / "no-such-dir/dump.bin"))}); }).number;
  EXPECT_EQ(number, 2);
  auto lines = TraceMessages(dir / "t.log");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "***Error in Post.SetDumpFile *** - Set of the Dump File Failed.");
  EXPECT_EQ(lines[3], "(2) No such file or directory");
  // Something that is not a File fails the same way, with the conversion error.
  EXPECT_EQ(ThrownError([&] { post->Invoke("DumpFile", CallKind::Set, {Variant(Post::Create())}); }).number,
            err::TypeMismatch);
}

TEST_F(PostTest, ProgressBarIdBindsASlot) {
  std::string id = ProgressBar::CreateTyped()->GetID();
  auto writer = ProgressBar::CreateTyped();
  writer->SetProgressBarID(id);
  writer->SetTotalBytes(1234);
  ObjectRef post = Post::Create();
  post->Invoke("TraceFile", CallKind::Set, {Variant(FileNamed(dir / "t.log"))});
  post->Invoke("ProgressBarID", CallKind::Let, {Variant(id)});
  EXPECT_EQ(post->Get("ProgressBarID").toString(), id);
  EXPECT_EQ(writer->TotalBytes(), 0);  // binding resets TotalBytes
  auto lines = TraceMessages(dir / "t.log");
  EXPECT_EQ(lines[2], "Post.LetProgressBarID - Set ProgressBarID value.");
}

TEST_F(PostTest, ProgressBarIdWithoutRecordFailsButIsStored) {
  auto post = Post::CreateTyped();
  post->SetTraceFile(Variant(FileNamed(dir / "t.log")));
  for (std::string id : {"TVPROGRESSBAR9", ""}) {
    EXPECT_EQ(ThrownError([&] { post->SetProgressBarID(id); }).number, err::TypeMismatch);
    EXPECT_EQ(post->GetProgressBarID(), id);
    ASSERT_TRUE(post->Progress());
    EXPECT_EQ(post->Progress()->ProgressBarID(), id);
  }
  for (const auto& line : TraceMessages(dir / "t.log"))
    EXPECT_NE(line, "Post.LetProgressBarID - Set ProgressBarID value.");
}

TEST_F(PostTest, UploadArgumentRules) {
  host.SetMultipart("");
  struct Case {
    bool assignFalseFirst;
    Variant checkArg;
    bool want;
  };
  std::vector<Case> cases = {
      {false, Variant::Missing(), true},
      {true, Variant::Missing(), false},
      {false, Variant(false), false},
      {true, Variant(true), true},
  };
  for (const auto& c : cases) {
    auto post = Post::CreateTyped();
    if (c.assignFalseFirst) post->SetCheckMacBinary(false);
    post->Upload(Variant::Missing(), Variant::Missing(), c.checkArg, Variant::Missing());
    EXPECT_EQ(post->GetCheckMacBinary(), c.want);
    EXPECT_EQ(post->FileMethod(), kUploadMakeVersions);
    EXPECT_TRUE(post->Parsed());
  }
  auto post = Post::CreateTyped();
  post->Upload(Variant::Missing(), Variant("4"), Variant::Missing(), Variant::Missing());
  EXPECT_EQ(post->FileMethod(), kUploadInMemory);
  auto direct = Post::CreateTyped();
  direct->GetFormInputs();
  EXPECT_EQ(direct->FileMethod(), kUploadUseTemp);
}

TEST_F(PostTest, UploadAssignsTheProgressBarId) {
  host.SetMultipart("");
  std::string id = ProgressBar::CreateTyped()->GetID();
  auto post = Post::CreateTyped();
  post->Upload(Variant::Missing(), Variant::Missing(), Variant::Missing(), Variant(id));
  EXPECT_EQ(post->GetProgressBarID(), id);
  ASSERT_TRUE(post->Progress());
}

TEST_F(PostTest, FlushOnANewObjectReadsNothing) {
  host.SetMultipart(std::string(5000, 'z'));
  auto post = Post::CreateTyped();
  post->Flush();
  EXPECT_TRUE(host.request->readSizes.empty());
}

TEST_F(PostTest, SecondFormInputsReadReturnsTheSameCollection) {
  host.SetMultipart("");
  ObjectRef post = Post::Create();
  ObjectRef first = post->Get("FormInputs").toObject();
  ObjectRef second = post->Get("FormInputs").toObject();
  EXPECT_EQ(first, second);
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

TEST(PostDump, VirtualDumpNameMapsIntoTheSite) {
  test::TempDir site;
  test::MemHost host(site.path());
  host.SetMultipart("");
  test::MemHost::Scope scope(host);
  auto f = File::New();
  f->SetName("dump.bin");  // relative to the page's folder, the site root here
  auto post = Post::CreateTyped();
  post->SetDumpFile(Variant(ObjectRef(f)));
  post->GetFormInputs();
  EXPECT_EQ(test::ReadFile(site / "dump.bin"), "TOTAL BYTES=0\r\n");
}

}  // namespace
}  // namespace torvane
