// Error numbers that the database client leaves in zdb_errno: the public
// names of <molvane/zdb_errors.h>, and what only the library uses besides.
// Their texts live in the platform error table (zdberrorstr).
#pragma once

#include <molvane/zdb_errors.h>

// A buffered update's extra text joins the message under this number.
inline constexpr int ZE_DOMAIN_TEXT = ZE_REF_NO_PARENT;
// A driver's storage failed; its message names the cause and the file.
inline bool zdb_storage_error(int err) { return err >= ZE_STORAGE_FULL && err <= ZE_STORAGE_CORRUPT; }
