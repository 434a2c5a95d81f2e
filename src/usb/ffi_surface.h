/* The serial link as plain C functions, exported from libquillon_host for the
 * engine's foreign-function interface. Every returned pointer belongs to the
 * caller and goes back through ffi_free_string. Call from one thread at a time. */
#pragma once

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

void ffi_start_usb_monitor(void (*callback)(const char* path, bool added));
bool ffi_open_usb(const char* path);
void ffi_close_usb(const char* path);
char* ffi_send_usb_hex_data(const char* path, const char* hex);
char* ffi_send_usb_hex_data_and_close(const char* path, const char* hex, int timeoutMs, const char* trace);
char* ffi_send_usb_bytes_data(const char* path, const unsigned char* bytes, int length);
unsigned char* ffi_read_usb_bytes_data(const char* path, int* outLength);
char* ffi_read_usb_hex_data(const char* path);
char* ffi_send_usb_bytes_and_read_usb_hex(const char* path, const unsigned char* bytes, int length);
bool ffi_get_vid_pid(const char* path, unsigned short* vid, unsigned short* pid);
void ffi_free_string(void* ptr);

#ifdef __cplusplus
}
#endif
