#include "sql/validate/vt_object.h"

SQLVTObject::~SQLVTObject() = default;
