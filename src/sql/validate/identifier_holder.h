// SQLVTIdentifierHolder: an owned identifier (SQLVTSCIdentifier) kept by
// the select list and the HINT clause records. It holds the identifier
// through its bases, so that a holder needs only the identifier's
// declaration; the conversion happens where the identifier is handed over.
#pragma once

#include <cstddef>
#include <memory>

#include "sql/validate/vt_value_expr.h"

// The identifier as the holders keep it.
inline SQLVTSCIdentifier *SQLVTAsIdentifier(SQLVTSCIdentifier *identifier) { return identifier; }

class SQLVTIdentifierHolder {
 public:
  SQLVTIdentifierHolder() = default;
  explicit SQLVTIdentifierHolder(std::nullptr_t) {}
  // Takes ownership of identifier (null holds nothing).
  template <class Identifier>
  explicit SQLVTIdentifierHolder(Identifier *identifier)
      : object_(identifier), expression_(identifier), identifier_(SQLVTAsIdentifier(identifier)) {}

  SQLVTSCIdentifier *Get() const { return identifier_; }
  explicit operator bool() const { return identifier_ != nullptr; }
  // Traces the identifier.
  void Log() const { expression_->Log(); }
  // Hands the identifier over as its text (from its DeleteToString, which
  // deletes it); null when the holder is empty.
  template <class Identifier = SQLVTSCIdentifier>
  char *ReleaseToString() {
    if (!identifier_) return nullptr;
    Identifier *identifier = reinterpret_cast<Identifier *>(identifier_);
    object_.release();
    expression_ = nullptr;
    identifier_ = nullptr;
    return identifier->DeleteToString();
  }
  // Hands the identifier over; the caller owns it.
  SQLVTSCIdentifier *Release() {
    object_.release();
    expression_ = nullptr;
    SQLVTSCIdentifier *identifier = identifier_;
    identifier_ = nullptr;
    return identifier;
  }

 private:
  std::unique_ptr<SQLVTObject> object_;        // owns the identifier
  SQLVTSCValueExpr *expression_ = nullptr;     // the same object, for Log
  SQLVTSCIdentifier *identifier_ = nullptr;    // the same object
};
