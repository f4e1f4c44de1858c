/* Symbol export for the molvane C API. */
#ifndef MOLVANE_EXPORT_H
#define MOLVANE_EXPORT_H

#if defined(__GNUC__)
#define MOLVANE_API __attribute__((visibility("default")))
#else
#define MOLVANE_API
#endif

#ifdef __cplusplus
#define MOLVANE_EXTERN_C_BEGIN extern "C" {
#define MOLVANE_EXTERN_C_END }
#else
#define MOLVANE_EXTERN_C_BEGIN
#define MOLVANE_EXTERN_C_END
#endif

#endif
