/* Symbol export and C linkage for every public header of vuxoint. */
#ifndef VUXO_EXPORT_H
#define VUXO_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define VUXO_API __attribute__((visibility("default")))
#else
#define VUXO_API
#endif

#ifdef __cplusplus
#define VUXO_BEGIN_DECLS extern "C" {
#define VUXO_END_DECLS }
#else
#define VUXO_BEGIN_DECLS
#define VUXO_END_DECLS
#endif

#endif
