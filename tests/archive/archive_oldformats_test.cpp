// The small containers Torvane reads and writes with its own code: MacBinary
// (with the resource fork in an AppleDouble companion) and MIME messages.
#include "archive_fixture.h"

#include <cstring>

#include "archive/apple_double.h"

namespace torvane::test {

using ::testing::HasSubstr;
using namespace torvane::engine;
namespace {

using ArchiveMacBinary = ArchiveTest;
using ArchiveMime = ArchiveTest;

uint16_t Crc16(const std::string& h) {
  uint16_t crc = 0;
  for (size_t i = 0; i < 124; ++i) {
    crc ^= static_cast<uint16_t>(static_cast<uint8_t>(h[i]) << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

uint32_t Be32(const std::string& s, size_t at) {
  return (uint32_t{static_cast<uint8_t>(s[at])} << 24) | (uint32_t{static_cast<uint8_t>(s[at + 1])} << 16) |
         (uint32_t{static_cast<uint8_t>(s[at + 2])} << 8) | static_cast<uint8_t>(s[at + 3]);
}

TEST_F(ArchiveMacBinary, ForksTravelThroughAnAppleDoubleCompanion) {
  MacForks forks;
  std::memcpy(forks.finderInfo, "TEXTttxt", 8);
  forks.resourceFork = {'R', 'S', 'R', 'C', 0, 1, 2};
  Bytes companion = EncodeAppleDouble(forks);
  Put("in/Letter", "Dear reader");
  Put("in/._Letter", std::string(companion.begin(), companion.end()));

  auto a = Make();
  a->NewArchive(Variant(Dos("letter.bin")), Variant::Missing());
  a->Add(Variant(Dos("in/Letter")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());

  std::string mb = Content(Native("letter.bin"));
  ASSERT_EQ(mb.size(), 128u + 128u + 128u);
  EXPECT_EQ(mb[1], 6);
  EXPECT_EQ(mb.substr(2, 6), "Letter");
  EXPECT_EQ(mb.substr(65, 8), "TEXTttxt");
  EXPECT_EQ(Be32(mb, 83), 11u);  // data fork
  EXPECT_EQ(Be32(mb, 87), 7u);   // resource fork
  EXPECT_EQ(mb.substr(102, 4), "mBIN");
  EXPECT_EQ(static_cast<uint8_t>(mb[122]), 130);
  EXPECT_EQ(static_cast<uint8_t>(mb[123]), 129);
  uint16_t crc = static_cast<uint16_t>((static_cast<uint8_t>(mb[124]) << 8) | static_cast<uint8_t>(mb[125]));
  EXPECT_EQ(crc, Crc16(mb));
  EXPECT_EQ(mb.substr(128, 11), "Dear reader");
  EXPECT_EQ(mb.substr(256, 4), "RSRC");

  auto b = Make();
  b->OpenArchive(Variant(Dos("letter.bin")));
  EXPECT_EQ(b->ArchiveType(), 12);
  auto e = b->Entries()->Item(Variant(1)).as<ArchiveEntry>();
  EXPECT_EQ(e->Path(), "Letter");
  EXPECT_EQ(e->UnCompressedSize(), 11);
  EXPECT_EQ(e->CompressedSize(), 18);
  b->Extract(Variant("Letter"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/Letter")), "Dear reader");
  std::string back = Content(Native("x/._Letter"));
  MacForks read;
  ASSERT_TRUE(DecodeAppleDouble(Bytes(back.begin(), back.end()), read));
  EXPECT_EQ(read.resourceFork, forks.resourceFork);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(read.finderInfo), 8), "TEXTttxt");
}

TEST_F(ArchiveMacBinary, ReadsAMacBinaryIIFileWithAMacRomanName) {
  std::string h(128, '\0');
  std::string name = "Caf\x8E \x2F Men\x9F";  // "Café / Menü" in Mac Roman
  h[1] = static_cast<char>(name.size());
  h.replace(2, name.size(), name);
  h.replace(65, 8, "TEXTMSWD");
  h[86] = 5;  // data fork: 5 bytes
  h[122] = static_cast<char>(129);
  h[123] = static_cast<char>(129);
  uint16_t crc = Crc16(h);
  h[124] = static_cast<char>(crc >> 8);
  h[125] = static_cast<char>(crc);
  Put("m2.bin", h + "hello" + std::string(123, '\0'));
  auto a = Make();
  a->OpenArchive(Variant(Dos("m2.bin")));
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"Caf\xC3\xA9 : Men\xC3\xBC"}));
  a->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/Caf\xC3\xA9 : Men\xC3\xBC")), "hello");
  // No resource fork, but Finder info: the companion keeps the type and creator.
  std::string companion = Content(Native("x/._Caf\xC3\xA9 : Men\xC3\xBC"));
  MacForks forks;
  ASSERT_TRUE(DecodeAppleDouble(Bytes(companion.begin(), companion.end()), forks));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(forks.finderInfo), 8), "TEXTMSWD");
  EXPECT_TRUE(forks.resourceFork.empty());
}

TEST_F(ArchiveMacBinary, AHeaderWithImpossibleLengthsIsNoMacBinary) {
  std::string h(128, '\0');
  h[1] = 3;
  h.replace(2, 3, "abc");
  h[83] = 0x10;  // data fork far larger than the file
  uint16_t crc = Crc16(h);
  h[124] = static_cast<char>(crc >> 8);
  h[125] = static_cast<char>(crc);
  Put("bad.bin", h + "x");
  auto a = Make();
  EXPECT_EQ(ThrownError([&] { a->OpenArchive(Variant(Dos("bad.bin"))); }).number, 0x0A01);
}

TEST_F(ArchiveMime, ReadsEveryLeafPartWithItsNameAndEncoding) {
  std::string msg =
      "From: someone@example.com\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed;\r\n"
      "\tboundary=\"outer\"\r\n"
      "\r\n"
      "preamble\r\n"
      "--outer\r\n"
      "Content-Type: multipart/alternative; boundary=inner\r\n"
      "\r\n"
      "--inner\r\n"
      "Content-Type: text/plain; charset=us-ascii\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n"
      "\r\n"
      "caf=C3=A9 is a soft=\r\n"
      " break\r\n"
      "--inner\r\n"
      "Content-Type: text/html\r\n"
      "\r\n"
      "<p>hi</p>\r\n"
      "--inner--\r\n"
      "--outer\r\n"
      "Content-Type: application/octet-stream\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename*=UTF-8''%C3%A9t%C3%A9.txt\r\n"
      "\r\n"
      "c3VtbWVy\r\n"
      "--outer\r\n"
      "Content-Type: application/octet-stream; name=\"=?UTF-8?B?w6l0w6kudHh0?=\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "\r\n"
      "YXV0dW1u\r\n"
      "--outer\r\n"
      "Content-Disposition: attachment; filename=\"../../etc/passwd\"\r\n"
      "\r\n"
      "not really\r\n"
      "--outer--\r\n"
      "epilogue\r\n";
  Put("mail.mmm", msg);
  auto a = Make();
  a->OpenArchive(Variant(Dos("mail.mmm")));
  EXPECT_EQ(a->ArchiveType(), 13);
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"Part1.txt", "Part2.html", "\xC3\xA9t\xC3\xA9.txt",
                                                   "\xC3\xA9t\xC3\xA9 (2).txt", "passwd"}));
  auto entries = a->Entries();
  EXPECT_EQ(entries->Item(Variant(1)).as<ArchiveEntry>()->UnCompressedSize(), 21);
  EXPECT_EQ(entries->Item(Variant(3)).as<ArchiveEntry>()->UnCompressedSize(), 6);
  a->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/Part1.txt")), "caf\xC3\xA9 is a soft break");
  EXPECT_EQ(Content(Native("x/Part2.html")), "<p>hi</p>");
  EXPECT_EQ(Content(Native("x/\xC3\xA9t\xC3\xA9.txt")), "summer");
  EXPECT_EQ(Content(Native("x/\xC3\xA9t\xC3\xA9 (2).txt")), "autumn");
  EXPECT_EQ(Content(Native("x/passwd")), "not really");
}

TEST_F(ArchiveMime, WritesBase64PartsThatAMailParserReads) {
  std::string binary = Noise(100000, 5);
  Put("in/photo \"1\".jpg", binary);
  Put("in/\xC3\xA9t\xC3\xA9.txt", "summer");
  Put("in/empty.txt", "");
  auto a = Make();
  a->NewArchive(Variant(Dos("out.mmm")), Variant::Missing());
  a->Add(Variant(Dos("in/*")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  std::string text = Content(Native("out.mmm"));
  EXPECT_EQ(text.rfind("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"", 0), 0u);
  EXPECT_THAT(text, HasSubstr("filename*=UTF-8''%C3%A9t%C3%A9.txt"));
  for (size_t at = 0, eol; (eol = text.find("\r\n", at)) != std::string::npos; at = eol + 2)
    EXPECT_LE(eol - at, 998u) << "line length";

  auto b = Make();
  b->OpenArchive(Variant(Dos("out.mmm")));
  EXPECT_EQ(Listing(*b), (std::vector<std::string>{"empty.txt", "photo \"1\".jpg", "\xC3\xA9t\xC3\xA9.txt"}));
  b->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/photo \"1\".jpg")), binary);
  EXPECT_EQ(Content(Native("x/empty.txt")), "");

  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  std::string script =
      "import email,sys,hashlib\n"
      "m=email.message_from_binary_file(open(sys.argv[1],'rb'))\n"
      "for p in m.walk():\n"
      "  if p.is_multipart(): continue\n"
      "  print(p.get_filename(), len(p.get_payload(decode=True)), hashlib.md5(p.get_payload(decode=True)).hexdigest())\n";
  WriteFile(Native("parse.py"), script);
  auto r = RunTool("python3 " + Quote(Native("parse.py")) + " " + Quote(Native("out.mmm")));
  ASSERT_EQ(r.status, 0) << r.output;
  auto md5 = [&](const std::string& s) {
    WriteFile(Native("md5.in"), s);
    std::string out = RunTool("md5sum " + Quote(Native("md5.in"))).output;
    return out.substr(0, 32);
  };
  EXPECT_EQ(r.output, "empty.txt 0 " + md5("") + "\nphoto \"1\".jpg 100000 " + md5(binary) + "\n\xC3\xA9t\xC3\xA9.txt 6 " +
                          md5("summer") + "\n");
}

TEST_F(ArchiveMime, ReadsAMessageWrittenByAMailLibrary) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  std::string binary = Noise(5000, 11);
  Put("data.bin", binary);
  std::string script =
      "from email.message import EmailMessage\n"
      "import sys\n"
      "m=EmailMessage(); m['Subject']='files'; m.set_content('body text\\n')\n"
      "m.add_attachment(open(sys.argv[1],'rb').read(), maintype='application', subtype='octet-stream', filename='data.bin')\n"
      "m.add_attachment('r\\u00e9sum\\u00e9\\n', filename='r\\u00e9sum\\u00e9.txt')\n"
      "open(sys.argv[2],'wb').write(bytes(m))\n";
  WriteFile(Native("make.py"), script);
  auto r = RunTool("python3 " + Quote(Native("make.py")) + " " + Quote(Native("data.bin")) + " " +
                   Quote(Native("py.mmm")));
  ASSERT_EQ(r.status, 0) << r.output;
  auto a = Make();
  a->OpenArchive(Variant(Dos("py.mmm")));
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"Part1.txt", "data.bin", "r\xC3\xA9sum\xC3\xA9.txt"}));
  a->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/data.bin")), binary);
  EXPECT_EQ(Content(Native("x/r\xC3\xA9sum\xC3\xA9.txt")), "r\xC3\xA9sum\xC3\xA9\n");
  EXPECT_EQ(Content(Native("x/Part1.txt")), "body text\n");
}

}  // namespace
}  // namespace torvane::test
