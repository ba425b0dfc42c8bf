// The PE resource reader against hand-laid images: found where it is, refused, never read past the end, when damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/support/pe_image.h"
#include "pe/pe_resource.h"

namespace kesmar::testing {
namespace {

using L = PeLayout;

struct Lookup {
  bool found;
  PeResourceData where;
  std::string problem;
};

// Looks in an exact-size heap copy, so that a read past the end is a read
// past the allocation, which the sanitizers and valgrind see.
Lookup Find(const std::string& image, const std::string& type = "RAW", uint32_t id = 130) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[image.size() + (image.empty() ? 1 : 0)]);
  std::memcpy(copy.get(), image.data(), image.size());
  Lookup result{};
  result.found = FindPeResource(copy.get(), image.size(), type, id, &result.where, &result.problem);
  return result;
}

TEST(PeResource, FindsTheFirstLanguageOfRaw130) {
  const std::string payload = "container bytes";
  const std::string image = PeImage(payload);
  const Lookup lookup = Find(image);
  ASSERT_TRUE(lookup.found) << lookup.problem;
  EXPECT_EQ(lookup.where.fileOffset, L::kSectionFile + L::kData);
  EXPECT_EQ(image.substr(lookup.where.fileOffset, lookup.where.size), payload);
  // Windows compares resource type names without regard to letter case.
  EXPECT_TRUE(Find(PeImage(payload, "raw")).found);
}

TEST(PeResource, OtherTypesAndIdsAreNotTaken) {
  struct Case {
    const char* what;
    std::string image;
    std::string problem;
  };
  const std::vector<Case> cases = {
      {"type RAX", PeImage("x", "RAX"), "no resource of type \"RAW\""},
      {"type RAWX", PeImage("x", "RAWX"), "no resource of type \"RAW\""},
      {"type RA", PeImage("x", "RA"), "no resource of type \"RAW\""},
      {"id 131", PeImage("x", "RAW", 131), "no resource RAW 130"},
      {"id 130 as a named entry", PeImage("x", "RAW", 0x80000000u | L::kTypeName),
       "no resource RAW 130"},
  };
  for (const Case& c : cases) {
    const Lookup lookup = Find(c.image);
    EXPECT_FALSE(lookup.found) << c.what;
    EXPECT_EQ(lookup.problem, c.problem) << c.what;
  }
}

TEST(PeResource, DamagedImagesAreRefused) {
  const std::string good = PeImage("payload");
  const size_t s = L::kSectionFile;
  struct Case {
    const char* what;
    size_t offset;
    uint32_t value;
    int width;         // 2 or 4 bytes
    uint32_t id = 130; // the id looked for
  };
  const std::vector<Case> cases = {
      {"PE header far past the end", 0x3C, 0xFFFFFFF0u, 4},
      {"PE header just past the end", 0x3C, uint32_t(good.size()) - 2, 4},
      {"wrong PE signature", L::kPeOffset, 0x00004551, 4},
      {"unknown optional header", L::kOptional, 0x10C, 2},
      {"optional header too small for its directories", L::kPeOffset + 20, 100, 2},
      {"two data directories only", L::kDirectoryCount, 2, 4},
      {"no resource directory", L::kResourceDirectory, 0, 4},
      {"resource directory outside every section", L::kResourceDirectory, 0x9000, 4},
      {"section count beyond the file", L::kPeOffset + 6, 0xFFFF, 2},
      {"section data past the end of the file", L::kSection + 20, 0xFFFFFF00u, 4},
      {"section raw size past the end", L::kSection + 16, 0x10000, 4},
      {"type entry is a leaf", s + 20, L::kTypeDirectory, 4},
      {"id entry is a leaf", s + L::kTypeDirectory + 20, L::kIdDirectory, 4},
      {"language entry is a directory", s + L::kIdDirectory + 20, 0x80000000u | L::kIdDirectory, 4},
      {"type directory past the section", s + 20, 0x80000000u | 0x7FFFFFF0u, 4},
      {"entry counts past the section, sought id not among those inside",
       s + L::kTypeDirectory + 14, 0xFFFF, 2, 999},
      {"type name past the section", s + 16, 0x80000000u | 0x7FFFFFFEu, 4},
      {"type name length past the section", s + L::kTypeName, 0xFFFF, 2},
      {"data entry past the section", s + L::kIdDirectory + 20, 0x7FFFFFF0u, 4},
      {"data RVA outside every section", s + L::kDataEntry, 0x50000, 4},
      {"data RVA before the section", s + L::kDataEntry, L::kSectionRva - 1, 4},
      {"data size past the section", s + L::kDataEntry + 4, 100000, 4},
      {"data size near 4 GiB", s + L::kDataEntry + 4, 0xFFFFFFFFu, 4},
  };
  for (const Case& c : cases) {
    std::string image = good;
    if (c.width == 2) {
      PutLe16(&image, c.offset, c.value);
    } else {
      PutLe32(&image, c.offset, c.value);
    }
    const Lookup lookup = Find(image, "RAW", c.id);
    EXPECT_FALSE(lookup.found) << c.what;
    EXPECT_FALSE(lookup.problem.empty()) << c.what;
  }
}

TEST(PeResource, EveryTruncationIsRefused) {
  // The data ends the file, so every shorter prefix misses some of it, or a
  // header, directory or entry on the way there.
  const std::string image = PeImage("payload");
  for (size_t length = 0; length < image.size(); ++length) {
    EXPECT_FALSE(Find(image.substr(0, length)).found) << "cut at " << length;
  }
}

TEST(PeResource, LooksLikePeImageNeedsBothSignatures) {
  const std::string image = PeImage("x");
  auto looks = [](const std::string& bytes) {
    return LooksLikePeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  EXPECT_TRUE(looks(image));
  EXPECT_FALSE(looks(image.substr(0, L::kPeOffset + 3)));
  EXPECT_FALSE(looks("MZ"));
  // A container whose size field happens to begin with "MZ" is no PE file.
  EXPECT_FALSE(looks(std::string("MZ\0\0\x5D\0\0\0\x01", 9) + std::string(100, '\0')));
}

}  // namespace
}  // namespace kesmar::testing
