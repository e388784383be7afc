#include "transport/AdlI2CIO.h"

#include <algorithm>
#include <cstring>

namespace brumel {

TAdlI2CIO::TAdlI2CIO() : Enumerator(GetVideoAdapterBuilder()) {
  if (Enumerator && *Enumerator) {
    Ready = true;
    AdapterIndex = (*Enumerator)->GetActiveAdapterIndex();
  }
}

TAdlI2CIO::~TAdlI2CIO() = default;

void TAdlI2CIO::SelectAdapter(int32_t adapterIndex) {
  if (!Ready || !Enumerator || !*Enumerator) return;
  TVideoAdapterBuilder& builder = **Enumerator;
  const VideoAdapters& adapters = *builder.GetAdapters();
  for (size_t position = 0; position < adapters.size(); ++position) {
    if (adapters[position] && adapters[position]->GetAdapterIndex() == adapterIndex) {
      builder.SetActiveAdapter(static_cast<int32_t>(position));
      AdapterIndex = adapterIndex;
      return;
    }
  }
}

void TAdlI2CIO::SetAddress(uint8_t address) { Address = address; }

void TAdlI2CIO::SetLine(int32_t line) { Line = line; }

IVideoAdapter* TAdlI2CIO::Target() const {
  if (!Ready || AdapterIndex < 0 || Address == 0xFF || !Enumerator || !*Enumerator) return nullptr;
  return (*Enumerator)->GetActiveAdapter();
}

bool TAdlI2CIO::Write(uint8_t* packet, uint32_t capacity, int32_t* size, uint32_t /*timeoutMs*/) {
  if (!packet || !size) return false;
  if (*size < 1 || static_cast<uint32_t>(*size) > capacity) return false;
  IVideoAdapter* adapter = Target();
  if (!adapter) return false;
  *size -= 1;
  return adapter->I2CWriteLine(Address, packet[0], packet + 1, *size, Line);
}

bool TAdlI2CIO::Read(uint8_t* packet, uint32_t capacity, int32_t size, uint32_t /*timeoutMs*/) {
  if (!packet) return false;
  const uint32_t room = std::min(capacity, kTransferBytes);
  if (size < 1 || static_cast<uint32_t>(size) > room) return false;
  IVideoAdapter* adapter = Target();
  if (!adapter) return false;
  uint8_t transfer[kTransferBytes] = {};
  std::memcpy(transfer, packet, room);
  // The register byte is the packet's first byte as it stands; the reply overwrites the
  // transfer buffer from its start.
  if (!adapter->I2CReadLine(Address, transfer[0], transfer, size, Line)) return false;
  std::memcpy(packet, transfer, static_cast<size_t>(size));
  return true;
}

}  // namespace brumel
