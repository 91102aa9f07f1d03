// The working images' pool: a released image's memory is wiped before anyone can take it
// again, a reused block is laid out as a new image of the asked size, the pool stays bounded,
// and threads taking and releasing at once each get memory no other holds.
#include "extract/work_image.h"

#include <algorithm>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace ridgeline {
namespace {

class WorkImageTest : public testing::Test {
 protected:
  void SetUp() override { EmptyWorkImagePool(); }
  void TearDown() override { EmptyWorkImagePool(); }
};

// Every row of image is width bytes of value, and the rows follow each other in one block
// ending in a zero byte; the table ends in a null slot.
void ExpectLayout(const WorkImage& image, int width, int height, uint8_t value) {
  ASSERT_TRUE(image);
  const GrayImage rows = image.get();
  for (int y = 0; y < height; ++y) {
    ASSERT_EQ(rows[y], rows[0] + static_cast<size_t>(y) * static_cast<size_t>(width)) << y;
    for (int x = 0; x < width; ++x) ASSERT_EQ(rows[y][x], value) << x << "," << y;
  }
  EXPECT_EQ(rows[height], nullptr);
  EXPECT_EQ(rows[0][static_cast<size_t>(width) * static_cast<size_t>(height)], 0);
}

TEST_F(WorkImageTest, ReleasedPixelsAreWipedBeforeTheBlockIsTakenAgain) {
  const uint8_t* first = nullptr;
  {
    WorkImage image = WorkImage::Unfilled(40, 30);
    ASSERT_TRUE(image);
    first = image.get()[0];
    for (int y = 0; y < 30; ++y) std::fill_n(image.get()[y], 40, uint8_t{0xAB});
  }
  EXPECT_EQ(PooledWorkImages(), 1);
  // The same memory comes back, holding zeros only.
  const WorkImage again = WorkImage::Unfilled(40, 30);
  EXPECT_EQ(again.get()[0], first);
  ExpectLayout(again, 40, 30, 0);
  EXPECT_EQ(PooledWorkImages(), 0);
}

TEST_F(WorkImageTest, SmallerImagesReuseTheSmallestBlockThatFitsLaidOutAnew) {
  const uint8_t* large_pixels = nullptr;
  const uint8_t* small_pixels = nullptr;
  {
    WorkImage large(64, 64, 7);
    WorkImage small(16, 16, 9);
    ExpectLayout(large, 64, 64, 7);
    ExpectLayout(small, 16, 16, 9);
    large_pixels = large.get()[0];
    small_pixels = small.get()[0];
  }
  ASSERT_EQ(PooledWorkImages(), 2);
  // 10 x 20 needs 20 rows: only the large block has them.
  const WorkImage tall(10, 20, 3);
  ExpectLayout(tall, 10, 20, 3);
  EXPECT_EQ(tall.get()[0], large_pixels);
  // 12 x 12 fits the small block; a wider image than any block gets new memory.
  const WorkImage square(12, 12, 5);
  ExpectLayout(square, 12, 12, 5);
  EXPECT_EQ(square.get()[0], small_pixels);
  const WorkImage wide(100, 2, 1);
  ExpectLayout(wide, 100, 2, 1);
  EXPECT_EQ(PooledWorkImages(), 0);
}

TEST_F(WorkImageTest, ThePoolKeepsAtMostItsShareAndMovesHandOverOwnership) {
  {
    std::vector<WorkImage> images;
    for (int i = 0; i < kPooledWorkImages + 3; ++i) images.push_back(WorkImage(8 + i, 8, 0));
    // Moving keeps one owner: the moved-from image releases nothing.
    WorkImage moved = std::move(images.back());
    EXPECT_FALSE(images.back());
    EXPECT_TRUE(moved);
  }
  EXPECT_EQ(PooledWorkImages(), kPooledWorkImages);
  EmptyWorkImagePool();
  EXPECT_EQ(PooledWorkImages(), 0);
}

TEST_F(WorkImageTest, ThreadsTakingAndReleasingAtOnceNeverShareMemory) {
  // Each thread writes its own mark over its image and checks it is still there before the
  // release; a block handed to two holders at once would show the other's mark.
  auto work = [](uint8_t mark) {
    for (int round = 0; round < 200; ++round) {
      WorkImage a = WorkImage::Unfilled(32, 8 + round % 5);
      WorkImage b(24, 24, mark);
      ASSERT_TRUE(a && b);
      for (int y = 0; y < 8; ++y) std::fill_n(a.get()[y], 32, mark);
      std::this_thread::yield();
      for (int y = 0; y < 8; ++y) {
        ASSERT_EQ(std::count(a.get()[y], a.get()[y] + 32, mark), 32);
        ASSERT_EQ(std::count(b.get()[y], b.get()[y] + 24, mark), 24);
      }
    }
  };
  std::thread other(work, uint8_t{0x11});
  work(uint8_t{0x22});
  other.join();
  EXPECT_LE(PooledWorkImages(), kPooledWorkImages);
}

}  // namespace
}  // namespace ridgeline
