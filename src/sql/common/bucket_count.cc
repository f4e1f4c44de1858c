#include "sql/common/bucket_count.h"

namespace {

constexpr int kPrimes[] = {
    13,       23,       47,        97,        193,       383,       769,
    1531,     3067,     6143,      12289,     24571,     49157,     98299,
    196613,   393209,   786433,    1572869,   3145721,   6291449,   12582917,
    25165813, 50331653, 100663291, 201326611, 402653189, 805306357,
};

}  // namespace

int SQLBucketCount(int expectedSize) {
  long wanted = 2L * expectedSize;
  for (int prime : kPrimes)
    if (prime >= wanted) return prime;
  return kPrimes[sizeof kPrimes / sizeof kPrimes[0] - 1];
}
