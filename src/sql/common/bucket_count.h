// Bucket counts of the chained hashes and recyclers.
#pragma once

// The first of a fixed list of primes (13, 23, 47, 97, 193, ..., each about
// twice the previous) that is at least 2 * expectedSize; the largest,
// 805306357, when none is.
int SQLBucketCount(int expectedSize);
