/* What a unit library may export besides its own entries, so that the host
 * loader can treat it as the device would treat a DLL. Plain C: substitute
 * libraries include it from C or C++. */
#ifndef HU_MODULE_EXPORTS_H
#define HU_MODULE_EXPORTS_H

#ifdef __cplusplus
extern "C" {
#endif

/* One entry of an export table; a table ends with a null name. */
typedef struct HuExport {
  const char* name;
  void* address;
} HuExport;

/* Optional: called once after every load with the unit folder (host path),
 * so that a substitute library knows which unit it serves. */
typedef void (*HuModuleInitFn)(const char* unitDir);
#define HU_MODULE_INIT "HuModuleInit"

/* Optional: the library's export table. When present, GetProcAddress finds
 * only the names in it, so a substitute can present fewer entries than it
 * defines. The table stays valid while the library is loaded. */
typedef const HuExport* (*HuModuleExportsFn)(void);
#define HU_MODULE_EXPORTS "HuModuleExports"

#ifdef __cplusplus
}
#endif

#endif /* HU_MODULE_EXPORTS_H */
