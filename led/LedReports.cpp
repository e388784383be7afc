#include "led/LedReports.h"

#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"

namespace brumel {

LedReport LightingModeReport(ModeForm form, const LightingMode& m, uint8_t zone, uint8_t level) {
  LedReport r{};
  r[1] = kLedModeCommand;
  switch (form) {
    case ModeForm::kZone:
      r[3] = zone;
      break;
    case ModeForm::kAllZones:
      r[3] = 0x00;
      r[10] = 0x01;
      break;
    case ModeForm::kMusic:
      r[3] = 0x04;
      r[11] = level;
      break;
  }
  r[4] = m.mode;
  r[5] = m.red;
  r[6] = m.green;
  r[7] = m.blue;
  r[8] = m.param;
  r[9] = 0xFF;
  return r;
}

LedReport TestControlReport(TestAction action, uint8_t red, uint8_t green, uint8_t blue) {
  LedReport r{};
  r[1] = kLedTestControlCommand;
  r[3] = 0x01;
  r[4] = static_cast<uint8_t>(action);
  if (action == TestAction::kSetColour) {
    r[5] = red;
    r[6] = green;
    r[7] = blue;
  }
  return r;
}

namespace {
LedReport ButtonReport(uint8_t command) {
  LedReport r{};
  r[1] = command;
  r[3] = 0x05;
  return r;
}
}  // namespace

LedReport ReadButtonsReport() { return ButtonReport(kLedReadButtonsCommand); }
LedReport ClearButtonReport() { return ButtonReport(kLedClearButtonCommand); }

int SingleButtonIndex(uint8_t bits) {
  for (int k = 0; k < kButtonCount; ++k) {
    if (bits == (1u << k)) return k;
  }
  return -1;
}

bool SendLedReport(const LedReport& report) {
  ISPLdCMD* channel = ControllerChannel();
  if (!channel) return false;
  uint8_t scratch[kLedReportBytes] = {};
  uint32_t length = sizeof scratch;
  return channel->SendAndRead(report.data(), scratch, &length);
}

bool SendModePackets(uint8_t mode, uint8_t red, uint8_t green, uint8_t blue, uint8_t param,
                     uint8_t allZones, int* reportsSent) {
  const LightingMode m{mode, red, green, blue, param};
  int sent = 0;
  if (allZones != 0) {
    sent += SendLedReport(LightingModeReport(ModeForm::kAllZones, m)) ? 1 : 0;
  } else {
    for (int zone = 0; zone < kZoneCount; ++zone) {
      sent +=
          SendLedReport(LightingModeReport(ModeForm::kZone, m, static_cast<uint8_t>(zone))) ? 1 : 0;
    }
  }
  if (reportsSent) *reportsSent = sent;
  return sent == ModeReportCount(allZones);
}

}  // namespace brumel
