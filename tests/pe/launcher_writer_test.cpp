// The launcher writer on hand-laid stubs: what it refuses, and what it changes and keeps when it writes.
#include <gtest/gtest.h>

#include <cstring>

#include "pe/launcher_writer.h"
#include "pe/pe_resource.h"
#include "pe/resource_tree.h"
#include "tests/support/pe_image.h"

namespace kesmar::testing {
namespace {

using Image = std::vector<uint8_t>;

constexpr uint32_t kOptional = StubLayout::kOptional;
constexpr uint32_t kSections = StubLayout::kSections;

uint32_t Get(const Image& image, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | image[at + i];
  return value;
}

Image Stub(const StubShape& shape) { return LauncherStubImage(shape); }

std::vector<Resource> Resources(const Image& image) {
  PeHeaders headers;
  std::string problem;
  std::vector<Resource> found;
  const PeBytes file(image.data(), image.size());
  EXPECT_TRUE(ReadPeHeaders(file, &headers, &problem) && ReadResources(file, headers, &found, &problem)) << problem;
  return found;
}

std::string Write(const Image& stub, const std::string& payload, Image* out) {
  std::string problem;
  return WriteLauncher(stub.data(), stub.size(), reinterpret_cast<const uint8_t*>(payload.data()),
                       uint32_t(payload.size()), out, &problem) ? "" : problem;
}

TEST(LauncherWriter, StubsRefusedAndWritten) {
  const Image plain = Stub({});
  Image cut = plain;
  cut.resize(0x600 + 40);  // inside the resources
  Image headerCut = plain;
  headerCut.resize(kSections + 20);
  Image stray = plain;
  stray.insert(stray.end(), 0x200, 'x');
  Image wideAlignment = plain;  // a 1 GiB file alignment would pad the launcher to match
  const uint8_t gibibyte[4] = {0, 0, 0, 0x40};
  std::memcpy(&wideAlignment[kOptional + 36], gibibyte, 4);
  struct Case {
    const char* what;
    Image stub;
    std::string problem;  // empty: written
  };
  const std::vector<Case> cases = {
      {"a plain stub", plain, ""},
      {"a stub with a payload already", Stub({2, true, "old payload, to be replaced", "", false}), ""},
      {"a signed stub", Stub({2, true, "", std::string(24, 'C'), false}), ""},
      {"not a PE file", Image{'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't'}, "not a PE file"},
      {"cut in the resources", cut, "not a launcher stub: section data past the end of the file (truncated?)"},
      {"cut in the section table", headerCut, "not a launcher stub: section table cut short"},
      {"a console program", Stub({3, true, "", "", false}), "not a launcher stub: not a GUI program"},
      {"no icon groups", Stub({2, false, "", "", false}), "not a launcher stub: no icon groups 107 and 108"},
      {"a section after the relocations", Stub({2, true, "", "", true}),
       "not a launcher stub: sections after the resources other than the relocations"},
      {"data after the last section", stray, "not a launcher stub: data after the last section"},
      {"a file alignment of 1 GiB", wideAlignment, "not a launcher stub: file alignment above 64 KiB"},
  };
  const std::string payload(3000, 'P');
  for (const Case& c : cases) {
    Image out;
    ASSERT_EQ(Write(c.stub, payload, &out), c.problem) << c.what;
    if (!c.problem.empty()) continue;

    // The payload is found where the launcher and the tools look for it.
    PeResourceData found;
    std::string problem;
    ASSERT_TRUE(FindPeResource(out.data(), out.size(), "RAW", 130, &found, &problem)) << c.what << problem;
    EXPECT_EQ(std::string(out.begin() + long(found.fileOffset), out.begin() + long(found.fileOffset + found.size)),
              payload) << c.what;
    // Every other resource is kept as it was; RAW 130 is there once, language neutral.
    auto others = [](const std::vector<Resource>& all, std::vector<const Resource*>* payloads) {
      std::vector<Image> kept;
      for (const Resource& r : all) {
        if (r.type.Matches(ResourceKey::Name(u"raw")) && r.name.Matches(ResourceKey::Id(130))) {
          payloads->push_back(&r);
        } else {
          kept.push_back(r.data);
        }
      }
      return kept;
    };
    const std::vector<Resource> before = Resources(c.stub), after = Resources(out);
    std::vector<const Resource*> oldPayloads, newPayloads;
    EXPECT_EQ(others(after, &newPayloads), others(before, &oldPayloads)) << c.what;
    ASSERT_EQ(newPayloads.size(), 1u) << c.what;
    EXPECT_EQ(newPayloads[0]->language, 0u) << c.what;
    // The code, the relocations (moved behind the larger resources) and the
    // headers that nothing concerns are the stub's; the checksum is right.
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + kOptional + 8, c.stub.begin())) << c.what;
    EXPECT_TRUE(std::equal(out.begin() + 0x400, out.begin() + 0x600, c.stub.begin() + 0x400)) << c.what;
    const uint32_t relocFile = Get(out, kSections + 80 + 20), relocRva = Get(out, kSections + 80 + 12);
    EXPECT_EQ(relocRva, Get(out, kOptional + 96 + 5 * 8)) << c.what;
    EXPECT_EQ(relocRva % 0x1000, 0u) << c.what;
    EXPECT_GE(relocRva, 0x2000 + Get(out, kSections + 40 + 8)) << c.what;
    EXPECT_TRUE(std::equal(out.begin() + relocFile, out.begin() + relocFile + 12,
                           c.stub.begin() + Get(c.stub, kSections + 80 + 20))) << c.what;
    EXPECT_EQ(out.size(), relocFile + 0x200u) << c.what << ": the certificate is gone";
    EXPECT_EQ(Get(out, kOptional + 96 + 4 * 8 + 4), 0u) << c.what;
    EXPECT_EQ(Get(out, kOptional + 56), relocRva + 0x1000) << c.what;
    EXPECT_EQ(Get(out, kOptional + 64), PeChecksum(out.data(), out.size(), kOptional + 64)) << c.what;
    // Written again, a launcher is its own stub: the same bytes come out.
    Image again;
    ASSERT_EQ(Write(out, payload, &again), "") << c.what;
    EXPECT_EQ(again, out) << c.what;
  }
}

TEST(LauncherWriter, EveryTruncationIsRefused) {
  const Image stub = Stub({});
  for (size_t size = 0; size < stub.size(); size += 7) {
    const Image cut(stub.begin(), stub.begin() + long(size));
    Image out;
    EXPECT_NE(Write(cut, "p", &out), "") << size;
  }
}

}  // namespace
}  // namespace kesmar::testing
