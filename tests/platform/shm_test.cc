#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <molvane/platform.h>

#include "platform/clock.h"
#include "platform/shm.h"
#include "support/test_env.h"

namespace {

TEST(SharedMemory, NothingWorksBeforeLink) {
  EXPECT_EQ(-1, update_shm_link());
  EXPECT_EQ(nullptr, shm_brk(8));
  EXPECT_EQ(-1, lock_shm());
  EXPECT_EQ(nullptr, shm_header());
  EXPECT_EQ(-1, shm_set_fixed_time(5));
  int dummy = 0;
  EXPECT_EQ(-1, shmAddObjectToShm("pkg", "/f", &dummy));
}

TEST(SharedMemory, BrkGivesZeroedAlignedRoundedBlocks) {
  ASSERT_EQ(0, link_shm());
  EXPECT_EQ(0, link_shm());  // linking again keeps the segment
  EXPECT_EQ(0, update_shm_link());
  char *a = static_cast<char *>(shm_brk(3));
  char *b = static_cast<char *>(shm_brk(9));
  char *c = static_cast<char *>(shm_brk(0));
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(8, b - a);
  EXPECT_EQ(16, c - b);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(a) % 8);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(0, b[i]);
  std::memset(b, 0x55, 9);
  EXPECT_EQ(0, a[0]);
}

TEST(SharedMemory, BrkRefusesWhatDoesNotFit) {
  molvane::test::ScratchDir root;
  root.WriteFile("lib/shm_param", "# segment\nsize: 65536\n");
  ASSERT_EQ(0, set_zuv(root.path().c_str()));
  ASSERT_EQ(0, link_shm());
  EXPECT_EQ(65536u, shm_header()->size);
  EXPECT_EQ(nullptr, shm_brk(65536));
  EXPECT_EQ(nullptr, shm_brk(SIZE_MAX));
  void *most = shm_brk(65536 - shm_header()->brk);
  EXPECT_NE(nullptr, most);
  EXPECT_EQ(nullptr, shm_brk(1));
}

TEST(SharedMemory, LockPairsAndHeaderWord) {
  ASSERT_EQ(0, link_shm());
  EXPECT_EQ(-1, unlock_shm());
  EXPECT_EQ(0, lock_shm());
  EXPECT_EQ(0, lock_shm());
  EXPECT_EQ(0, unlock_shm());
  EXPECT_EQ(0, unlock_shm());
  EXPECT_EQ(-1, unlock_shm());

  // The company-mapping root word: 0, then all ones while built, then the root.
  SHM_HEADER *h = shm_header();
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(0u, h->compnr_root);
  h->compnr_root = SHM_ROOT_BUILDING;
  void *root = shm_brk(8);
  h->compnr_root = reinterpret_cast<uintptr_t>(root);
  EXPECT_EQ(root, reinterpret_cast<void *>(shm_header()->compnr_root));
}

TEST(SharedMemory, FixedTimeReplacesClock) {
  ASSERT_EQ(0, link_shm());
  ASSERT_EQ(0, shm_set_fixed_time(1234567890));
  int64_t out = 0;
  EXPECT_EQ(1234567890, al_time(&out));
  EXPECT_EQ(1234567890, out);
  ASSERT_EQ(0, shm_set_fixed_time(0));
  EXPECT_GT(al_time(nullptr), 1700000000);
}

TEST(SharedMemory, ObjectDirectoryByNameAndFile) {
  ASSERT_EQ(0, link_shm());
  int first = 1, second = 2;
  ASSERT_EQ(0, shmAddObjectToShm("tt", "/dict/ddtt", &first));
  EXPECT_EQ(&first, shmGetObject("tt"));
  EXPECT_EQ(&first, shmGetObjectByFN("/dict/ddtt"));
  EXPECT_EQ(&first, shmObjectIsLoaded("tt", "/dict/ddtt"));
  EXPECT_EQ(nullptr, shmObjectIsLoaded("tt", "/dict/ddtt.new"));
  ASSERT_EQ(0, shmAddObjectToShm("tt", "/dict/ddtt.new", &second));
  EXPECT_EQ(&second, shmGetObject("tt"));
  EXPECT_EQ(nullptr, shmGetObjectByFN("/dict/ddtt"));
  EXPECT_EQ(nullptr, shmGetObject("zz"));
  EXPECT_EQ(-1, shmAddObjectToShm(nullptr, "/x", &first));
  unlink_shm();
  EXPECT_EQ(nullptr, shmGetObject("tt"));
}

TEST(SharedMemory, SharedDataStoreKeepsEntriesPerFileAndTime) {
  EXPECT_EQ(0, sds_load_possible());
  EXPECT_EQ(0, shmIamSrddInit());
  ASSERT_EQ(0, link_shm());
  struct stat old_status {}, new_status {};
  old_status.st_mtime = 1000;
  new_status.st_mtime = 2000;
  int a = 1, b = 2, c = 3;
  EXPECT_EQ(nullptr, sds_search("/d/f", &old_status));
  EXPECT_EQ(-1, sds_change("/d/f", &old_status, &c));
  ASSERT_EQ(0, sds_add("/d/f", &old_status, &a));
  ASSERT_EQ(0, sds_add("/d/f", &old_status, &b));
  ASSERT_EQ(0, sds_add("/d/g", &old_status, &c));
  SDS_ENTRY *e = sds_search("/d/f", &old_status);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(&b, e->data);  // newest first
  ASSERT_NE(nullptr, e->next);
  EXPECT_EQ(&a, e->next->data);
  EXPECT_EQ(nullptr, e->next->next);
  EXPECT_EQ(nullptr, sds_search("/d/f", &new_status));  // the file changed
  EXPECT_EQ(0, sds_change("/d/f", &old_status, &c));
  EXPECT_EQ(&c, sds_search("/d/f", &old_status)->data);
}

TEST(SharedMemory, ShmTypeFromVariable) {
  setenv("SHMTYPE", "static", 1);
  EXPECT_EQ(2, shmGetShmType());
  setenv("SHMTYPE", "dynamic", 1);
  EXPECT_EQ(2, shmGetShmType());  // read once
}

}  // namespace
