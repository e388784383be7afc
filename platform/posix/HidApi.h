// Declarations of the hidapi entry points this tool uses, written from the library's public
// documentation. The library is never linked: it is loaded at run time and every entry point is
// looked up by name (see platform/posix/Hid.cpp).
#pragma once
#include <stddef.h>
#include <wchar.h>

extern "C" {

// Layout of the enumeration record as hidapi publishes it. Fields after `next` were added in
// later releases and are not read here.
struct hid_device_info {
  char* path;
  unsigned short vendor_id;
  unsigned short product_id;
  wchar_t* serial_number;
  unsigned short release_number;
  wchar_t* manufacturer_string;
  wchar_t* product_string;
  unsigned short usage_page;
  unsigned short usage;
  int interface_number;
  struct hid_device_info* next;
};

struct hid_device_;
typedef struct hid_device_ hid_device;

typedef int (*hid_init_fn)(void);
typedef int (*hid_exit_fn)(void);
typedef struct hid_device_info* (*hid_enumerate_fn)(unsigned short vendor_id,
                                                    unsigned short product_id);
typedef void (*hid_free_enumeration_fn)(struct hid_device_info* devs);
typedef hid_device* (*hid_open_path_fn)(const char* path);
typedef int (*hid_write_fn)(hid_device* dev, const unsigned char* data, size_t length);
typedef int (*hid_read_timeout_fn)(hid_device* dev, unsigned char* data, size_t length,
                                   int milliseconds);
typedef void (*hid_close_fn)(hid_device* dev);
// The last error of a device, or (with a null device) of the last open or enumeration; null
// when there was none. The text belongs to the library.
typedef const wchar_t* (*hid_error_fn)(hid_device* dev);

}  // extern "C"
