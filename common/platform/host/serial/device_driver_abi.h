/* The C interface of a unit's device driver: a shared object named in
 * unit.ini ([drivers] console = /abs/path/libhu_sim_console.so) that serves
 * the console device "CON1:" and the platform's kernel control codes. */
#ifndef HU_DEVICE_DRIVER_ABI_H
#define HU_DEVICE_DRIVER_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Both answer 0 on success or a system error code as the device reports it
 * (87 invalid parameter, 50 not supported, 122 buffer too small ...).
 * `unitDir` is the unit folder (host path). `in`/`out` are bounded by their
 * sizes; `*returned` (never null) receives the output bytes written. */
typedef uint32_t (*HuDeviceIoControlFn)(const char* unitDir, uint32_t code, const void* in, uint32_t inSize,
                                        void* out, uint32_t outSize, uint32_t* returned);
typedef uint32_t (*HuKernelIoControlFn)(const char* unitDir, uint32_t code, const void* in, uint32_t inSize,
                                        void* out, uint32_t outSize, uint32_t* returned);

#define HU_DEVICE_IO_CONTROL "HuDeviceIoControl"
#define HU_KERNEL_IO_CONTROL "HuKernelIoControl"

#ifdef __cplusplus
}
#endif

#endif /* HU_DEVICE_DRIVER_ABI_H */
