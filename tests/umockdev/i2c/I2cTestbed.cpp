#include "I2cTestbed.h"

#include <errno.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/model/Scenario.h"

namespace i2ctb {

namespace {

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
  return text;
}

// The first 64 bytes of the function's configuration space: the ids at 0 and 0x2C, the class.
std::string ConfigHex(const CardSpec& card) {
  uint8_t bytes[64] = {};
  const auto put16 = [&bytes](size_t at, uint16_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  put16(0x00, card.vendor);
  put16(0x02, card.device);
  bytes[0x08] = 0xC1;
  bytes[0x0B] = 0x03;
  put16(0x2C, card.subsystemVendor);
  put16(0x2E, card.subsystem);
  std::string hex;
  for (uint8_t b : bytes) {
    char text[4];
    std::snprintf(text, sizeof text, "%02x", b);
    hex += text;
  }
  return hex;
}

void Complete(UMockdevIoctlClient* client, long result, int error) {
  umockdev_ioctl_client_complete(client, result, error);
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  auto* tb = static_cast<Testbed*>(data);
  const std::string node = umockdev_ioctl_client_get_devnode(client);
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  const bool controller = node == "/dev/i2c-" + std::to_string(tb->ControllerBus());

  if (request == I2C_FUNCS) {
    tb->Record({node, "funcs", {}});
    UMockdevIoctlData* out = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned long), nullptr);
    if (!out) {
      Complete(client, -1, EFAULT);
      return TRUE;
    }
    // What amdgpu's display buses offer: plain I2C and SMBus emulated over it.
    unsigned long functions = I2C_FUNC_SMBUS_EMUL;
    if (tb->plainI2c || !controller) functions |= I2C_FUNC_I2C;
    std::memcpy(out->data, &functions, sizeof functions);
    Complete(client, 0, 0);
    g_object_unref(out);
    return TRUE;
  }

  if (request == I2C_RDWR) {
    Event event{node, "rdwr", {}};
    UMockdevIoctlData* rdwr =
        umockdev_ioctl_data_resolve(arg, 0, sizeof(i2c_rdwr_ioctl_data), nullptr);
    if (!rdwr) {
      tb->Record(event);
      Complete(client, -1, EFAULT);
      return TRUE;
    }
    const auto* head = reinterpret_cast<const i2c_rdwr_ioctl_data*>(rdwr->data);
    const size_t count = head->nmsgs;
    UMockdevIoctlData* list =
        count > 0 && count <= I2C_RDWR_IOCTL_MAX_MSGS
            ? umockdev_ioctl_data_resolve(rdwr, offsetof(i2c_rdwr_ioctl_data, msgs),
                                          count * sizeof(i2c_msg), nullptr)
            : nullptr;
    std::vector<UMockdevIoctlData*> buffers;
    bool ok = list != nullptr;
    for (size_t i = 0; ok && i < count; ++i) {
      const auto* m = reinterpret_cast<const i2c_msg*>(list->data) + i;
      Message message{m->addr, (m->flags & I2C_M_RD) != 0, m->len, {}};
      UMockdevIoctlData* buffer =
          m->len > 0 ? umockdev_ioctl_data_resolve(list, i * sizeof(i2c_msg) + offsetof(i2c_msg, buf),
                                                   m->len, nullptr)
                     : nullptr;
      if (m->len > 0 && !buffer) ok = false;
      if (buffer && !message.read) message.written.assign(buffer->data, buffer->data + m->len);
      buffers.push_back(buffer);
      event.messages.push_back(message);
    }
    tb->Record(event);
    std::vector<std::vector<uint8_t>> replies;
    if (!ok) {
      Complete(client, -1, EFAULT);
    } else if (!controller || !tb->Answer(event.messages, replies)) {
      // amdgpu reports every failed transfer (no acknowledge, a time-out) as EIO.
      Complete(client, -1, EIO);
    } else {
      for (size_t i = 0; i < count; ++i) {
        if (event.messages[i].read && buffers[i])
          std::memcpy(buffers[i]->data, replies[i].data(), event.messages[i].length);
      }
      Complete(client, static_cast<long>(count), 0);
    }
    for (UMockdevIoctlData* b : buffers) {
      if (b) g_object_unref(b);
    }
    if (list) g_object_unref(list);
    g_object_unref(rdwr);
    return TRUE;
  }

  tb->Record({node, "ioctl " + std::to_string(request), {}});
  Complete(client, -1, ENOTTY);
  return TRUE;
}

void OnOpen(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  static_cast<Testbed*>(data)->Record({umockdev_ioctl_client_get_devnode(client), "open", {}});
}

}  // namespace

struct Testbed::Impl {
  UMockdevTestbed* bed = nullptr;
  std::vector<UMockdevIoctlBase*> handlers;
};

Testbed::Testbed() : impl_(std::make_unique<Impl>()), model_(brumel::sim::Scenario{}) {
  impl_->bed = umockdev_testbed_new();
}

Testbed::~Testbed() {
  for (UMockdevIoctlBase* h : impl_->handlers) g_object_unref(h);
  g_object_unref(impl_->bed);
}

void Testbed::AddCard(const CardSpec& card) {
  const std::string dir = "/devices/pci0000:00/0000:00:01.0/" + card.address;
  std::string d = "P: " + dir + "\nE: SUBSYSTEM=pci\n";
  if (!card.driver.empty()) d += "E: DRIVER=" + card.driver + "\n";
  d += "A: vendor=0x" + Hex4(card.vendor) + "\nA: device=0x" + Hex4(card.device) +
       "\nA: subsystem_vendor=0x" + Hex4(card.subsystemVendor) + "\nA: subsystem_device=0x" +
       Hex4(card.subsystem) + "\nA: class=0x030000\nA: revision=0xc1\nH: config=" +
       ConfigHex(card) + "\n";
  if (!card.driver.empty()) d += "L: driver=../../../../bus/pci/drivers/" + card.driver + "\n";
  for (const BusSpec& bus : card.buses) {
    const std::string n = std::to_string(bus.number);
    d += "\nP: " + dir + "/i2c-" + n + "\nE: SUBSYSTEM=i2c\nA: name=" + bus.name + "\n";
    if (!bus.node) continue;
    d += "\nP: " + dir + "/i2c-" + n + "/i2c-dev/i2c-" + n + "\nN: i2c-" + n +
         "=00\nE: SUBSYSTEM=i2c-dev\nE: DEVNAME=/dev/i2c-" + n + "\nE: MAJOR=89\nE: MINOR=" + n +
         "\nA: dev=89:" + n + "\nA: name=" + bus.name + "\n";
    nodes_.push_back(bus.number);
  }
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(impl_->bed, d.c_str(), &error)) {
    std::fprintf(stderr, "test bed: %s\n%s\n", error ? error->message : "?", d.c_str());
    if (error) g_error_free(error);
    std::abort();
  }
}

void Testbed::Attach(int controllerBus) {
  controllerBus_ = controllerBus;
  for (int n : nodes_) {
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), this);
    g_signal_connect(handler, "client-connected", G_CALLBACK(OnOpen), this);
    GError* error = nullptr;
    const std::string node = "/dev/i2c-" + std::to_string(n);
    if (!umockdev_testbed_attach_ioctl(impl_->bed, node.c_str(), handler, &error)) {
      std::fprintf(stderr, "test bed: %s: %s\n", node.c_str(), error ? error->message : "?");
      std::abort();
    }
    impl_->handlers.push_back(handler);
  }
}

void Testbed::Record(Event event) {
  std::lock_guard<std::mutex> hold(lock_);
  events_.push_back(std::move(event));
}

std::vector<Event> Testbed::Events() const {
  std::lock_guard<std::mutex> hold(lock_);
  return events_;
}

std::vector<std::string> Testbed::Opens() const {
  std::vector<std::string> out;
  for (const Event& e : Events()) {
    if (e.what == "open") out.push_back(e.node);
  }
  return out;
}

// One message written to 0x36 is one ISP request (the register byte first, h = 2); the
// register byte written and a read after it fetch the reply from that register on.
bool Testbed::Answer(std::vector<Message>& messages, std::vector<std::vector<uint8_t>>& replies) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!acknowledge) return false;
  replies.assign(messages.size(), {});
  for (const Message& m : messages) {
    if (m.address != 0x36) return false;
  }
  if (messages.size() == 1 && !messages[0].read && !messages[0].written.empty()) {
    const Message& m = messages[0];
    const brumel::sim::Outcome out = model_.Receive(
        m.written.data(), std::min<size_t>(m.written.size(), brumel::sim::kPacketBytes), 2);
    if (!out.received) return false;
    hasReply_ = out.reply;
    if (out.reply) reply_ = out.bytes;
    return true;
  }
  if (messages.size() == 2 && !messages[0].read && messages[0].written.size() == 1 &&
      messages[1].read) {
    if (!hasReply_) return false;
    const size_t offset = messages[0].written[0];
    replies[1].assign(messages[1].length, 0);
    for (size_t i = 0; i < messages[1].length; ++i)
      replies[1][i] = offset + i < reply_.size() ? reply_[offset + i] : 0;
    return true;
  }
  return false;
}

void RunUnderUmockdev(int argc, char** argv) {
  (void)argc;
  const char* other = std::getenv("LD_PRELOAD");
  if (other && std::strstr(other, "libumockdev-preload")) return;
  std::string preload = "libumockdev-preload.so.0";
  if (other && *other) preload += std::string(":") + other;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  // A sanitizer build checks that its run-time comes first; here the preload library must.
  std::string asan = "verify_asan_link_order=0";
  if (const char* other = std::getenv("ASAN_OPTIONS"); other && *other)
    asan = std::string(other) + ":" + asan;
  setenv("ASAN_OPTIONS", asan.c_str(), 1);
  execv("/proc/self/exe", argv);
  std::perror("cannot run again under umockdev");
  std::exit(2);
}

}  // namespace i2ctb
