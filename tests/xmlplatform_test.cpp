// The XML platform's guards from several threads: made and dropped on any
// thread, nested or side by side, while readers read on others; a reader
// that outlives its guard. Runs under ThreadSanitizer too.

#include "IntermediateFileParser/XmlPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "IntermediateFileParser/MorvDocReader.h"
#include "IntermediateFileParser/MorvDocument.h"
#include "TestSupport.h"

namespace morv::test {
namespace {

// A Shift_JIS document (decoded by the decoders the platform registers) and
// a UTF-8 one, with an internal entity (read through the platform's counting
// reader), a title and one list.
struct TestDocuments {
  explicit TestDocuments(const ScratchDir& dir) : title(Encode("パターン表示")) {
    const auto document = [](const std::string& encoding) {
      return Document({.encoding = encoding,
                       .doctype = Doctype(Entity("t", "パターン")),
                       .head = "<head><title>&t;表示</title></head>",
                       .body = "<d><frame_idx size='3'>1 2 3</frame_idx></d>" +
                               Repeat("<image_name index='1' name='画像'/>", 200)});
    };
    sjis = WriteFile(dir / "sjis.xml", Encode(document("Shift_JIS")));
    utf8 = WriteFile(dir / "utf8.xml", document("UTF-8"));
  }
  std::string sjis;
  std::string utf8;
  std::string title;
};

// Reads both documents with `reader`; false when either read fails or reads
// something else.
bool ReadsBoth(ifp::TMorvDocReader& reader, const TestDocuments& documents) {
  for (const std::string& path : {documents.sjis, documents.utf8}) {
    ifp::TMorvDocument document;
    if (!reader.Read(&document, path.c_str())) return false;
    if (document.title != documents.title || document.tex_pattern_data.frame_idx.data.size() != 3) {
      return false;
    }
  }
  return true;
}

TEST(XmlPlatformTest, GuardsOnOtherThreadsNeverDisturbAReadingThread) {
  const ScratchDir dir;
  const TestDocuments documents(dir);
  std::atomic<bool> reading{true};
  std::atomic<int> failed_reads{0};
  std::atomic<int> reads{0};

  // Two readers on threads of their own, one under a guard held for the
  // whole run and one that only its reader keeps the platform up for.
  const auto read_loop = [&](bool guarded) {
    std::optional<ifp::TXmlPlatform> guard;
    if (guarded) guard.emplace();
    ifp::TMorvDocReader reader;
    for (int i = 0; i < 40; ++i) {
      if (!ReadsBoth(reader, documents)) ++failed_reads;
      ++reads;
    }
  };
  // Guards made and dropped without end meanwhile: single, nested, and
  // several alive at once on different threads.
  const auto guard_loop = [&] {
    while (reading) {
      const ifp::TXmlPlatform outer;
      { const ifp::TXmlPlatform inner; }
      std::vector<std::unique_ptr<ifp::TXmlPlatform>> several;
      for (int i = 0; i < 3; ++i) several.push_back(std::make_unique<ifp::TXmlPlatform>());
      several.clear();
    }
  };

  std::vector<std::thread> guards;
  for (int i = 0; i < 3; ++i) guards.emplace_back(guard_loop);
  std::thread guarded_reader(read_loop, true);
  std::thread bare_reader(read_loop, false);
  guarded_reader.join();
  bare_reader.join();
  reading = false;
  for (std::thread& thread : guards) thread.join();
  EXPECT_EQ(reads, 80);
  EXPECT_EQ(failed_reads, 0);
}

TEST(XmlPlatformTest, AReaderOutlivingItsGuardKeepsThePlatformUp) {
  const ScratchDir dir;
  const TestDocuments documents(dir);
  auto guard = std::make_unique<ifp::TXmlPlatform>();
  auto reader = std::make_unique<ifp::TMorvDocReader>();
  ASSERT_TRUE(ReadsBoth(*reader, documents));
  guard.reset();
  // The platform is still up for the reader: it reads, and it goes without
  // touching anything of a platform brought down.
  EXPECT_TRUE(ReadsBoth(*reader, documents));
  reader.reset();

  // Everything gone: the next guard brings the platform up afresh, decoders
  // and counting reader included, and the limits hold as before.
  const ifp::TXmlPlatform again;
  ifp::TMorvDocReader fresh;
  EXPECT_TRUE(ReadsBoth(fresh, documents));
  const std::string bomb =
      WriteFile(dir / "bomb.xml", "<?xml version='1.0' encoding='Shift_JIS'?>" +
                                      Doctype(Entity("e", std::string(4096, 'x'))) + "<r>" +
                                      Repeat("&e;", 2000) + "</r>");
  ifp::TMorvDocument document;
  EXPECT_FALSE(fresh.Read(&document, bomb.c_str()));
  EXPECT_EQ(fresh.GetFailure().limit, ifp::TReadFailure::TLimit::kEntityExpansion)
      << fresh.GetFailure().Describe();
}

}  // namespace
}  // namespace morv::test
