// brumel_hidraw_bed [--give-node-to USER | --closed-node] -- PROGRAM [ARGS...]
//
// Runs PROGRAM in a umockdev test bed that holds the simulated controller as a real-looking
// hidraw device: a USB device 0416:A316 (or the ids of the scenario named by
// BRUMEL_SIM_SCENARIO), its interface, its HID device with a report descriptor, and the hidraw
// node /dev/hidraw0 (/dev/hidraw1 for a second device). Debian's hidapi, loaded by PROGRAM,
// finds it through the test bed's sysfs and talks to the node; the controller model answers:
//   - a write is one output report, report id 0 first; the model takes its 64 bytes and the
//     write is logged to BRUMEL_SIM_LOG as the substitute hidapi logs it;
//   - a read gives one reply, its 64 bytes without a report id, as hidraw gives them;
//   - HIDIOCGRDESCSIZE, HIDIOCGRDESC and HIDIOCGRAWINFO answer from the descriptor and the ids;
//   - after the scenario's UnplugAfter the device is gone: writes fail with ENODEV, reads with
//     EIO, and it leaves the test bed's sysfs.
// The node is a FIFO that holds one byte for each reply that is ready, so the program's poll()
// sees what a hidraw node would show; reads and writes themselves go to the handler here.
//
// Like a stock system's node, /dev/hidraw* is root's (mode 0600); --give-node-to hands it to a
// user, as the udev rule's uaccess tag does at the seat. --closed-node is for a program that may
// not open the node: umockdev's preload opens a node it emulates through a socket whatever the
// open of the node itself gave (and ends the program when it may not use that socket), so a
// closed node is left a plain FIFO, root's, with nothing attached: its open fails as the
// kernel's does. The test bed is readable by all.
// PROGRAM runs with the test bed's environment; the exit code is PROGRAM's (128 + signal when a
// signal ended it). SIGTERM and SIGHUP are passed on to PROGRAM. Exit code 125: the test bed could
// not be set up (the reason on stderr).
#include <fcntl.h>
#include <glib.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/model/ControllerModel.h"
#include "sim/model/Scenario.h"
#include "sim/model/SimLog.h"

namespace {

using brumel::sim::ControllerModel;
using brumel::sim::DeviceSpec;
using brumel::sim::kPacketBytes;
using brumel::sim::Packet;
using brumel::sim::Scenario;

constexpr int kSetupFailed = 125;
constexpr const char* kPreload = "libumockdev-preload.so.0";

// One top-level vendor collection with 64-byte input and output reports, no report ids.
constexpr uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x81, 0x02,        //   input (data, variable, absolute)
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x91, 0x02,        //   output (data, variable, absolute)
    0xC0,              // end collection
};

void Say(const std::string& text) { std::fprintf(stderr, "[bed] %s\n", text.c_str()); }

std::string Hex4(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", v & 0xFFFF);
  return text;
}

struct Node {
  Node(const Scenario& scenario, DeviceSpec deviceIds) : ids(deviceIds), model(scenario) {}
  DeviceSpec ids;
  ControllerModel model;
  std::string devnode;    // "/dev/hidraw0"
  std::string usbDevice;  // its USB device in the test bed's sysfs, removed on unplug
  int ready = -1;         // the bed's end of the node's FIFO: one byte per reply ready
  std::deque<Packet> replies;
  bool gone = false;
};

struct Bed {
  std::mutex lock;
  UMockdevTestbed* testbed = nullptr;
  std::vector<std::unique_ptr<Node>> nodes;
};

Bed g_bed;

Node* NodeOf(UMockdevIoctlClient* client) {
  const char* devnode = umockdev_ioctl_client_get_devnode(client);
  for (const auto& node : g_bed.nodes) {
    if (devnode && node->devnode == devnode) return node.get();
  }
  return nullptr;
}

void MarkReady(Node& node) {
  const char byte = 1;
  if (write(node.ready, &byte, 1) != 1) Say("cannot mark a reply ready on " + node.devnode);
}

void Unplug(Node& node) {
  node.gone = true;
  node.replies.clear();
  // A hidraw node that lost its device polls as ready for ever; every read then fails.
  MarkReady(node);
  umockdev_testbed_remove_device(g_bed.testbed, node.usbDevice.c_str());
  brumel::sim::ShowNotice("device " + node.devnode + " unplugged");
}

// One output report: the report id 0 and the 64 bytes the model takes. The bytes written, or
// -errno.
glong WriteReport(Node& node, UMockdevIoctlData& arg, UMockdevIoctlClient*) {
  if (node.gone) return -ENODEV;
  const auto length = static_cast<size_t>(arg.data_len);
  // The controller's endpoint takes whole reports only.
  if (length != kPacketBytes + 1 || arg.data[0] != 0) {
    brumel::sim::LogReceived(arg.data, length, "refused: not a report id 0 and 64 bytes");
    return -EINVAL;
  }
  const brumel::sim::Outcome out = node.model.Receive(arg.data + 1, kPacketBytes);
  if (!out.received) {
    Unplug(node);
    return -ENODEV;
  }
  brumel::sim::LogReceived(arg.data, length, out.meaning);
  if (!out.notice.empty()) brumel::sim::ShowNotice(out.notice);
  if (out.reply) {
    node.replies.push_back(out.bytes);
    MarkReady(node);
  }
  return static_cast<glong>(length);
}

// One input report: a reply's 64 bytes, as many as the buffer takes. The bytes read, or -errno.
glong ReadReport(Node& node, UMockdevIoctlData& arg, UMockdevIoctlClient*) {
  if (node.gone) return -EIO;
  if (node.replies.empty()) return -EAGAIN;
  char byte = 0;
  if (read(node.ready, &byte, 1) != 1) Say("no ready mark for a reply on " + node.devnode);
  const Packet reply = node.replies.front();
  node.replies.pop_front();
  const size_t n = std::min(static_cast<size_t>(arg.data_len), reply.size());
  std::memcpy(arg.data, reply.data(), n);
  return static_cast<glong>(n);
}

// Copies bytes into the record the ioctl's argument points to.
bool Answer(UMockdevIoctlData& arg, const void* bytes, size_t length) {
  UMockdevIoctlData* record = umockdev_ioctl_data_resolve(&arg, 0, length, nullptr);
  if (!record || record->data_len < static_cast<gint>(length)) return false;
  std::memcpy(record->data, bytes, length);
  return true;
}

// The hidraw ioctls hidapi asks: 0, or -errno.
glong AnswerIoctl(Node& node, UMockdevIoctlData& arg, UMockdevIoctlClient* client) {
  if (node.gone) return -ENODEV;
  const gulong request = umockdev_ioctl_client_get_request(client);
  bool answered = false;
  if (request == HIDIOCGRDESCSIZE) {
    const int size = sizeof kReportDescriptor;
    answered = Answer(arg, &size, sizeof size);
  } else if (request == HIDIOCGRDESC) {
    hidraw_report_descriptor descriptor{};
    descriptor.size = sizeof kReportDescriptor;
    std::memcpy(descriptor.value, kReportDescriptor, sizeof kReportDescriptor);
    answered = Answer(arg, &descriptor, sizeof descriptor);
  } else if (request == HIDIOCGRAWINFO) {
    hidraw_devinfo info{};
    info.bustype = BUS_USB;
    info.vendor = static_cast<__s16>(node.ids.vendorId);
    info.product = static_cast<__s16>(node.ids.productId);
    answered = Answer(arg, &info, sizeof info);
  } else {
    Say("ioctl " + std::to_string(request) + " on " + node.devnode + " is not answered");
    return -ENOTTY;
  }
  return answered ? 0 : -EFAULT;
}

// Runs one request of a client under the bed's lock and completes it with the result (below 0:
// -errno). A request for no node of ours, or without a buffer, fails with EINVAL.
gboolean Complete(UMockdevIoctlClient* client,
                  glong (*handle)(Node&, UMockdevIoctlData&, UMockdevIoctlClient*)) {
  std::lock_guard<std::mutex> hold(g_bed.lock);
  Node* node = NodeOf(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  const glong result = node && arg && arg->data_len >= 0 ? handle(*node, *arg, client) : -EINVAL;
  umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                 result < 0 ? static_cast<gint>(-result) : 0);
  return TRUE;
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
  return Complete(client, WriteReport);
}
gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
  return Complete(client, ReadReport);
}
gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
  return Complete(client, AnswerIoctl);
}

// The USB device, its interface, the HID device and the hidraw node of device number i.
bool AddDevice(UMockdevTestbed* testbed, const std::string& root, Node& node, size_t i,
               const passwd* nodeOwner, bool closedNode) {
  const std::string number = std::to_string(i + 1);
  const std::string vendor = Hex4(node.ids.vendorId), product = Hex4(node.ids.productId);
  std::string vendorLower = vendor, productLower = product;
  for (std::string* s : {&vendorLower, &productLower}) {
    for (char& c : *s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const std::string serial = "SIM000" + number;
  gchar* usb = umockdev_testbed_add_device(
      testbed, "usb", ("1-" + number).c_str(), nullptr, "idVendor", vendorLower.c_str(),
      "idProduct", productLower.c_str(), "busnum", "1", "devnum", number.c_str(), "manufacturer",
      "Brumel Bench", "product", "Emulated LED Controller", "serial", serial.c_str(), "bcdDevice",
      "0100", nullptr, "DEVTYPE", "usb_device", nullptr);
  if (!usb) return false;
  node.usbDevice = usb;
  gchar* interface = umockdev_testbed_add_device(
      testbed, "usb", ("1-" + number + ":1.0").c_str(), usb, "bInterfaceNumber", "00",
      "bInterfaceClass", "03", nullptr, "DEVTYPE", "usb_interface", nullptr);
  g_free(usb);
  if (!interface) return false;
  const std::string hidName = "0003:" + vendor + ":" + product + ".000" + number;
  const std::string hidId = "0003:0000" + vendor + ":0000" + product;
  gchar* hid = umockdev_testbed_add_device(
      testbed, "hid", hidName.c_str(), interface, nullptr, "HID_ID", hidId.c_str(), "HID_NAME",
      "Brumel Bench Emulated LED Controller", "HID_UNIQ", serial.c_str(), nullptr);
  g_free(interface);
  if (!hid) return false;
  umockdev_testbed_set_attribute_binary(testbed, hid, "report_descriptor",
                                        const_cast<guint8*>(kReportDescriptor),
                                        sizeof kReportDescriptor);
  const std::string hidraw = "hidraw" + std::to_string(i);
  node.devnode = "/dev/" + hidraw;
  // With a device number umockdev takes the node for a device it emulates, and opens it through
  // a socket whatever the open of the node gave; a closed node has none, and stays a plain FIFO.
  const std::string deviceNumber = "243:" + std::to_string(i);
  // (Both lists end with a null; a closed node's attribute list is empty, but its DEVNAME stays,
  // so the library still finds the node and fails only at its open.)
  gchar* raw = closedNode
                   ? umockdev_testbed_add_device(testbed, "hidraw", hidraw.c_str(), hid, nullptr,
                                                 "DEVNAME", node.devnode.c_str(), nullptr)
                   : umockdev_testbed_add_device(testbed, "hidraw", hidraw.c_str(), hid, "dev",
                                                 deviceNumber.c_str(), nullptr, "DEVNAME",
                                                 node.devnode.c_str(), nullptr);
  g_free(hid);
  if (!raw) return false;
  g_free(raw);

  const std::string fifo = root + node.devnode;
  if (g_mkdir_with_parents((root + "/dev").c_str(), 0755) != 0 || mkfifo(fifo.c_str(), 0600) != 0) {
    Say("cannot make " + fifo + ": " + std::strerror(errno));
    return false;
  }
  node.ready = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (node.ready < 0) return false;
  if (nodeOwner && chown(fifo.c_str(), nodeOwner->pw_uid, nodeOwner->pw_gid) != 0) return false;
  if (closedNode) return true;

  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-write", G_CALLBACK(OnWrite), nullptr);
  g_signal_connect(handler, "handle-read", G_CALLBACK(OnRead), nullptr);
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), nullptr);
  GError* error = nullptr;
  const bool attached =
      umockdev_testbed_attach_ioctl(testbed, node.devnode.c_str(), handler, &error);
  g_object_unref(handler);
  if (!attached) {
    Say(std::string("cannot attach to ") + node.devnode + ": " + (error ? error->message : "?"));
    if (error) g_error_free(error);
    return false;
  }
  // The handler's socket has the node's owner and mode.
  const std::string socket = root + "/ioctl" + node.devnode;
  if (chmod(socket.c_str(), 0600) != 0) return false;
  return !nodeOwner || chown(socket.c_str(), nodeOwner->pw_uid, nodeOwner->pw_gid) == 0;
}

// Reads the scenario as the substitute hidapi does (BRUMEL_SIM_SCENARIO, else the default one).
bool LoadScenario(Scenario& scenario) {
  const char* path = std::getenv(brumel::sim::kScenarioVariable);
  if (!path || !*path) return true;
  std::string text, error;
  if (!brumel::sim::ReadWholeFile(path, text)) {
    Say(std::string("cannot read the scenario ") + path);
    return false;
  }
  if (!brumel::sim::ParseScenario(text, scenario, error)) {
    Say(std::string("scenario ") + path + ": " + error);
    return false;
  }
  if (scenario.fault.delayMs != 0) {
    Say("DelayMs is left to the substitute hidapi's bench");
    return false;
  }
  return true;
}

pid_t g_child = -1;

void PassOn(int signal) {
  if (g_child > 0) kill(g_child, signal);
}

}  // namespace

int main(int argc, char** argv) {
  // The test bed's own calls go through umockdev's preload too (it makes the devices through
  // the emulated /sys): without it, start again with it.
  const char* preload = std::getenv("LD_PRELOAD");
  if (!preload || !std::strstr(preload, kPreload)) {
    const std::string list =
        std::string(kPreload) + (preload && *preload ? std::string(" ") + preload : "");
    setenv("LD_PRELOAD", list.c_str(), 1);
    execv("/proc/self/exe", argv);
    Say(std::string("cannot start again under umockdev's preload: ") + std::strerror(errno));
    return kSetupFailed;
  }

  const passwd* nodeOwner = nullptr;
  bool closedNode = false;
  int at = 1;
  for (; at < argc && std::strcmp(argv[at], "--") != 0; ++at) {
    if (std::strcmp(argv[at], "--closed-node") == 0) {
      closedNode = true;
    } else if (std::strcmp(argv[at], "--give-node-to") == 0 && at + 1 < argc) {
      nodeOwner = getpwnam(argv[++at]);
      if (!nodeOwner) {
        Say(std::string("no user ") + argv[at]);
        return kSetupFailed;
      }
    } else {
      Say(std::string("unknown option ") + argv[at]);
      return kSetupFailed;
    }
  }
  if (at + 1 >= argc || (closedNode && nodeOwner)) {
    Say("usage: brumel_hidraw_bed [--give-node-to USER | --closed-node] -- PROGRAM [ARGS...]");
    return kSetupFailed;
  }

  Scenario scenario;
  if (!LoadScenario(scenario)) return kSetupFailed;
  g_bed.testbed = umockdev_testbed_new();
  gchar* root = umockdev_testbed_get_root_dir(g_bed.testbed);
  const std::string rootDir = root;
  g_free(root);
  {
    std::lock_guard<std::mutex> hold(g_bed.lock);
    for (size_t i = 0; i < scenario.devices.size(); ++i) {
      g_bed.nodes.push_back(std::make_unique<Node>(scenario, scenario.devices[i]));
      if (!AddDevice(g_bed.testbed, rootDir, *g_bed.nodes.back(), i, nodeOwner, closedNode)) {
        Say("cannot set up device " + std::to_string(i + 1));
        return kSetupFailed;
      }
    }
  }
  // Programs run as another user read the emulated /sys as well, and reach umockdev's own
  // handler of the nodes without one of ours.
  if (chmod(rootDir.c_str(), 0755) != 0 ||
      chmod((rootDir + "/ioctl/_default").c_str(), 0666) != 0) {
    return kSetupFailed;
  }

  signal(SIGTERM, PassOn);
  signal(SIGHUP, PassOn);
  g_child = fork();
  if (g_child < 0) return kSetupFailed;
  if (g_child == 0) {
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    execvp(argv[at + 1], argv + at + 1);
    Say(std::string("cannot start ") + argv[at + 1] + ": " + std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  while (waitpid(g_child, &status, 0) < 0 && errno == EINTR) {
  }
  g_child = -1;
  {
    std::lock_guard<std::mutex> hold(g_bed.lock);
    for (const auto& node : g_bed.nodes) close(node->ready);
  }
  g_object_unref(g_bed.testbed);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : kSetupFailed;
}
