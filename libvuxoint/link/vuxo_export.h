/* Symbol export and C linkage for every public header of vuxoint. */
#ifndef VUXO_EXPORT_H
#define VUXO_EXPORT_H

/* Each library exports exactly its own functions. On Windows a library's own
 * sources are compiled with VUXO_BUILDING_<LIBRARY> and mark them dllexport (once
 * one symbol is marked, the linker exports no other); every other user sees plain
 * declarations, which the import library's thunks resolve, so the same objects
 * also link statically. Elsewhere default visibility, narrowed by each library's
 * version script. */
#if defined(_WIN32)
#define VUXO_DLL_EXPORT __declspec(dllexport)
#define VUXO_DLL_USE
#elif defined(__GNUC__) || defined(__clang__)
#define VUXO_DLL_EXPORT __attribute__((visibility("default")))
#define VUXO_DLL_USE __attribute__((visibility("default")))
#else
#define VUXO_DLL_EXPORT
#define VUXO_DLL_USE
#endif

#ifdef VUXO_BUILDING_VUXOINT
#define VUXO_API VUXO_DLL_EXPORT
#else
#define VUXO_API VUXO_DLL_USE
#endif
#ifdef VUXO_BUILDING_COMM
#define COMM_API VUXO_DLL_EXPORT
#else
#define COMM_API VUXO_DLL_USE
#endif
#ifdef VUXO_BUILDING_VUXODATA
#define VUXOD_API VUXO_DLL_EXPORT
#else
#define VUXOD_API VUXO_DLL_USE
#endif

#ifdef __cplusplus
#define VUXO_BEGIN_DECLS extern "C" {
#define VUXO_END_DECLS }
#else
#define VUXO_BEGIN_DECLS
#define VUXO_END_DECLS
#endif

#endif
