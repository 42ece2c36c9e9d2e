/* Visibility of the library's exported names. The library is built with hidden
 * visibility by default and a linker version script; a name reaches the dynamic
 * symbol table only when it is marked KCARLIB_API and listed in an exports.list. */
#ifndef KCARLIB_EXPORT_H
#define KCARLIB_EXPORT_H

#if defined(__GNUC__)
#define KCARLIB_API __attribute__((visibility("default")))
#else
#define KCARLIB_API
#endif

#ifdef __cplusplus
#define KCARLIB_EXTERN_C_BEGIN extern "C" {
#define KCARLIB_EXTERN_C_END }
#else
#define KCARLIB_EXTERN_C_BEGIN
#define KCARLIB_EXTERN_C_END
#endif

#endif
