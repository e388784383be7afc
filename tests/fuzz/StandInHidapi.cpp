// A stand-in for hidapi in the fuzz build: one device whose input reports come from the fuzz
// input. Each write releases the next group of replies, so draining queued input before a write
// (a 0 ms read) sees only replies left over from earlier writes.
//
// Built as libhidapi-hidraw.so.0 beside the fuzz targets, where the tool looks first.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "platform/posix/HidApi.h"

struct hid_device_ {
  int unused;
};

namespace {

char g_path[] = "standin";
hid_device_info g_info = {g_path, 0x1234, 0x5678, nullptr, 0, nullptr, nullptr, 0, 0, 0, nullptr};
hid_device g_device = {0};

const uint8_t* g_script = nullptr;
size_t g_left = 0;
std::deque<std::vector<uint8_t>> g_queue;

uint8_t Take() {
  if (!g_left) return 0;
  --g_left;
  return *g_script++;
}

}  // namespace

extern "C" {

// The fuzz target hands over its input; replies are cut from it as writes arrive.
__attribute__((visibility("default"))) void standin_hid_script(const uint8_t* data, size_t size) {
  g_script = data;
  g_left = size;
  g_queue.clear();
}

__attribute__((visibility("default"))) int hid_init(void) { return 0; }
__attribute__((visibility("default"))) int hid_exit(void) { return 0; }
__attribute__((visibility("default"))) hid_device_info* hid_enumerate(unsigned short,
                                                                      unsigned short) {
  return &g_info;
}
__attribute__((visibility("default"))) void hid_free_enumeration(hid_device_info*) {}
__attribute__((visibility("default"))) hid_device* hid_open_path(const char*) { return &g_device; }
__attribute__((visibility("default"))) void hid_close(hid_device*) {}

// Per write, one script byte: bit 7 fails the write; bits 0-1 give the number of replies
// released (0-3); each reply is a length byte (0-80) and that many bytes.
__attribute__((visibility("default"))) int hid_write(hid_device*, const unsigned char*,
                                                     size_t length) {
  const uint8_t control = Take();
  if (control & 0x80) return -1;
  for (int r = 0; r < (control & 3); ++r) {
    std::vector<uint8_t> reply(Take() % 81);
    for (uint8_t& b : reply) b = Take();
    g_queue.push_back(std::move(reply));
  }
  return static_cast<int>(length);
}

__attribute__((visibility("default"))) int hid_read_timeout(hid_device*, unsigned char* data,
                                                            size_t length, int) {
  if (g_queue.empty()) return 0;
  std::vector<uint8_t> reply = std::move(g_queue.front());
  g_queue.pop_front();
  const size_t n = reply.size() < length ? reply.size() : length;
  if (n) std::memcpy(data, reply.data(), n);
  return static_cast<int>(n);
}

}  // extern "C"
