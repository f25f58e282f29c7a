/* Entry points of the adapter maker's USB bootloader library as the USB HID
 * CAN driver binds them by name at run time during a firmware update.
 * Declarations of our own, written from what the driver expects; the
 * library behind them (Drivers/brenko/brenko_pic32_ubl.so in the build
 * folder) is a stand-in whose bootloader device is simulated (see
 * brenkoublsim.cpp).
 *
 *   mcUblInit()                 prepares the library
 *   mcUblShutdown()             releases it
 *   mcUblConnectAndProgram(path, vendor, product)
 *                               connects to the bootloader device with these
 *                               USB ids and starts programming the firmware
 *                               file (Intel HEX); nonzero when started
 *   mcUblDisconnect()           ends the connection (and a programming run)
 *   mcUblMessagePump()          lets the programming advance
 *   mcUblGetStatus()            0, 1 not started; 2 started; 3 erasing;
 *                               4 programming; 5 verifying; 6 starting the
 *                               new firmware; 8 error
 */
#ifndef ZOR_BRENKOUBL_H
#define ZOR_BRENKOUBL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZOR_BRENKOUBL_BUILD)
#define UBL_API __attribute__((visibility("default")))
#else
#define UBL_API
#endif

UBL_API void mcUblInit(void);
UBL_API void mcUblShutdown(void);
UBL_API int32_t mcUblConnectAndProgram(const char *path, int32_t vendorId, int32_t productId);
UBL_API void mcUblDisconnect(void);
UBL_API void mcUblMessagePump(void);
UBL_API int32_t mcUblGetStatus(void);

typedef void (*mcUblInitFn)(void);
typedef void (*mcUblShutdownFn)(void);
typedef int32_t (*mcUblConnectAndProgramFn)(const char *, int32_t, int32_t);
typedef void (*mcUblDisconnectFn)(void);
typedef void (*mcUblMessagePumpFn)(void);
typedef int32_t (*mcUblGetStatusFn)(void);

/* Test control of the simulated bootloader device (not an entry point of
 * the maker's library), one command a call; 0 when understood, -1 otherwise.
 *   "reset"            no device attached, default script, counters cleared
 *   "attach" / "detach" the device in bootloader mode is there / gone (it is
 *                      only ever there while QUORVANE_SIM_GATEWAY is set,
 *                      like every adapter of this platform)
 *   "script S,S,..."   the statuses successive mcUblMessagePump calls give
 *                      once programming started (default 2,2,3,4,4,5,6); the
 *                      last one stays
 *   "detachafter 0|1"  the device leaves bootloader mode (detaches) when the
 *                      script reaches status 6 (default 1)
 * ZorUblSimState(what) reads back: "status", "attached", "connects"
 * (successful mcUblConnectAndProgram calls), "pumps", "inits", "shutdowns",
 * "disconnects". ZorUblSimProgrammed(buffer, size) copies the path of the
 * last file programmed to the end and returns its full length. */
UBL_API int32_t ZorUblSimControl(const char *command);
UBL_API int32_t ZorUblSimState(const char *what);
UBL_API int32_t ZorUblSimProgrammed(char *buffer, int32_t size);
typedef int32_t (*ZorUblSimControlFn)(const char *);
typedef int32_t (*ZorUblSimStateFn)(const char *);
typedef int32_t (*ZorUblSimProgrammedFn)(char *, int32_t);

#ifdef __cplusplus
}
#endif

#endif /* ZOR_BRENKOUBL_H */
