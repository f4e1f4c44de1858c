// Error numbers that the database client leaves in zdb_errno: the public
// names of <molvane/zdb_errors.h>, and what only the library uses besides.
// Their texts live in the platform error table (zdberrorstr).
#pragma once

#include <string_view>

#include <molvane/zdb_errors.h>

// A buffered update's extra text joins the message under this number.
inline constexpr int ZE_DOMAIN_TEXT = ZE_REF_NO_PARENT;
// A driver's storage failed; its message names the cause and the file.
inline bool zdb_storage_error(int err) { return err >= ZE_STORAGE_FULL && err <= ZE_STORAGE_CORRUPT; }

// The failed buffered updates whose driver text becomes the message of the
// call as soon as it arrives: a domain or reference text, a storage failure
// that names its cause and file, the reason of a transaction the driver
// ended (510).
inline bool zdb_update_text_is_message(int err) {
  return err == ZE_DOMAIN_TEXT || zdb_storage_error(err) || err == ZE_COMMUNICATION;
}

// The driver's text of a failed buffered update says the cause in its own
// words, not only which update failed: a duplicate key with its index and
// values, or one of zdb_update_text_is_message.
inline bool zdb_update_text_is_cause(int err, std::string_view text) {
  if (text.empty()) return false;
  if (err == ZE_DUPLICATE_VALUE) return text.rfind("Duplicate key ", 0) == 0;
  return zdb_update_text_is_message(err);
}
