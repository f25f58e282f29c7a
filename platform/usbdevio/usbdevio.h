/* Device services of the USB layer inside the Zanthic plug-in: finding the
 * devices of a device-interface class, opening a device path, and device
 * I/O-control requests that complete asynchronously (started, then awaited
 * with a time-out, cancelled when abandoned). Declarations of our own for
 * what the plug-in's USB access layer needs; the library behind them
 * (libusbdevio.so in platform/ of the build folder) is a stand-in whose
 * devices are simulated USB-CAN adapters on the simulated CAN gateway.
 *
 * The requests are those of a USB driver serving one interface:
 *   USBDEV_IOCTL_GET_DEVICE_DESCRIPTOR  out: the 18-byte device descriptor
 *   USBDEV_IOCTL_GET_CONFIG_DESCRIPTOR  out: the configuration descriptor
 *                                       with its interface and endpoint
 *                                       descriptors (USB layout)
 *   USBDEV_IOCTL_TRANSFER               in: a UsbDevTransferHeader, then for
 *                                       an OUT endpoint the data; out: the
 *                                       header with the statuses filled in,
 *                                       then for an IN endpoint the data.
 *                                       Bytes returned = header + data.
 *   USBDEV_IOCTL_ABORT_PIPE             in: one byte, the endpoint address;
 *                                       ends the endpoint's pending
 *                                       transfers with usbStatus
 *                                       USBDEV_USB_STATUS_CANCELED
 * A transfer succeeded when its request completed with both statuses 0.
 * All functions may be called from several threads at once.
 */
#ifndef ZOR_USBDEVIO_H
#define ZOR_USBDEVIO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZOR_USBDEVIO_BUILD)
#define USBDEV_API __attribute__((visibility("default")))
#else
#define USBDEV_API
#endif

typedef struct UsbDevDevice *USBDEV_HANDLE;
typedef struct UsbDevRequest *USBDEV_REQUEST;

enum {
    USBDEV_OK = 0,
    USBDEV_NO_MORE_ITEMS = 1,      /* enumeration: no member at that index */
    USBDEV_NOT_FOUND = 2,          /* open: no such device path */
    USBDEV_INVALID_PARAMETER = 3,
    USBDEV_DEVICE_GONE = 4,        /* the device was unplugged */
    USBDEV_PENDING = 5,            /* wait: not completed within the time-out */
    USBDEV_INVALID_HANDLE = 6,
    USBDEV_NOT_SUPPORTED = 7
};

#define USBDEV_IOCTL_GET_DEVICE_DESCRIPTOR 0x0201u
#define USBDEV_IOCTL_GET_CONFIG_DESCRIPTOR 0x0202u
#define USBDEV_IOCTL_TRANSFER 0x0210u
#define USBDEV_IOCTL_ABORT_PIPE 0x0211u

#define USBDEV_USB_STATUS_CANCELED 0xC0010000u
#define USBDEV_USB_STATUS_STALL 0xC0000004u

typedef struct UsbDevTransferHeader {
    uint8_t endpoint;       /* endpoint address; bit 7 set for IN */
    uint8_t reserved[3];
    uint32_t length;        /* data bytes to send (OUT) or room for (IN) */
    uint32_t usbStatus;     /* filled in on completion; 0 = no USB error */
    uint32_t systemStatus;  /* filled in on completion; 0 = no system error */
} UsbDevTransferHeader;

/* Device path of member `index` of the present devices of the interface
 * class (text form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", case ignored),
 * written to path with its terminating NUL. USBDEV_NO_MORE_ITEMS beyond the
 * last member. */
USBDEV_API int32_t UsbDevGetInterfacePath(const char *interfaceClass, int32_t index, char *path,
                                          int32_t pathSize);
/* Opens a device path for asynchronous requests; null when it names no
 * present device. */
USBDEV_API USBDEV_HANDLE UsbDevOpen(const char *path);
/* Cancels the handle's pending requests and closes it. */
USBDEV_API int32_t UsbDevClose(USBDEV_HANDLE device);
/* Starts an I/O-control request. The buffers must stay valid until the
 * request is released. *request is set whenever the result is USBDEV_OK. */
USBDEV_API int32_t UsbDevIoControl(USBDEV_HANDLE device, uint32_t code, const void *in, uint32_t inSize,
                                   void *out, uint32_t outSize, USBDEV_REQUEST *request);
/* Waits up to timeoutMs for the request: USBDEV_OK with *bytesReturned once
 * it completed, USBDEV_PENDING when it did not, USBDEV_DEVICE_GONE when it
 * failed because the device went away. */
USBDEV_API int32_t UsbDevWaitRequest(USBDEV_REQUEST request, int32_t timeoutMs, uint32_t *bytesReturned);
/* Releases a request; one still pending is cancelled first (its buffers are
 * not touched after this returns). */
USBDEV_API void UsbDevReleaseRequest(USBDEV_REQUEST request);

typedef int32_t (*UsbDevGetInterfacePathFn)(const char *, int32_t, char *, int32_t);
typedef USBDEV_HANDLE (*UsbDevOpenFn)(const char *);
typedef int32_t (*UsbDevCloseFn)(USBDEV_HANDLE);
typedef int32_t (*UsbDevIoControlFn)(USBDEV_HANDLE, uint32_t, const void *, uint32_t, void *, uint32_t,
                                     USBDEV_REQUEST *);
typedef int32_t (*UsbDevWaitRequestFn)(USBDEV_REQUEST, int32_t, uint32_t *);
typedef void (*UsbDevReleaseRequestFn)(USBDEV_REQUEST);

/* Test control of the simulated devices (not a device service), one command
 * a call; 0 when understood, -1 otherwise.
 *   "reset"              one device present, every setting below cleared
 *   "devices <n>"        n devices present (0 to 16)
 *   "mute <i> 0|1"       device i stops answering: its IN transfers stay
 *                        pending until aborted, cancelled or timed out
 *   "refusetx <i> 0|1"   device i answers transmit requests with status 0
 *   "rxanswer <i> <hex>" device i answers its next receive request with
 *                        these bytes (queued; for malformed answers)
 * ZorUsbSimRequests(i, buffer, size) copies the requests device i received
 * since the last "reset" (receive polls left out), one line of lower-case
 * hex per request, and returns the full size.
 * ZorUsbSimState(i, what): "handles" open handles, "started" 1 while its
 * CAN channel runs, "pending" IN transfers waiting, "queued" frames from
 * the bus not yet asked for, "polls" receive requests so far. */
USBDEV_API int32_t ZorUsbSimControl(const char *command);
USBDEV_API int32_t ZorUsbSimRequests(int32_t device, char *buffer, int32_t size);
USBDEV_API int32_t ZorUsbSimState(int32_t device, const char *what);
typedef int32_t (*ZorUsbSimControlFn)(const char *);
typedef int32_t (*ZorUsbSimRequestsFn)(int32_t, char *, int32_t);
typedef int32_t (*ZorUsbSimStateFn)(int32_t, const char *);

#ifdef __cplusplus
}
#endif

#endif /* ZOR_USBDEVIO_H */
