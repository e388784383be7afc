// The adapter enumerator: lists the graphics adapters of the machine once, keeps one adapter
// object per physical adapter, makes the first the active adapter and records every adapter in
// the configuration file. The GPU I2C transport reaches the controller through the active
// adapter.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/AdapterRegInfo.h"
#include "config/Config.h"
#include "gpu/ADL.h"
#include "gpu/VideoAdapter.h"

namespace brumel {

using VideoAdapters = std::vector<IVideoAdapter*>;

class TVideoAdapterBuilder {
 public:
  // Enumerates the adapters of the process-wide display library into the process-wide
  // configuration. Throws EIniFileError when the configuration file cannot be written.
  TVideoAdapterBuilder();
  // The same with the given library and configuration (null: none).
  TVideoAdapterBuilder(TADL* adl, TConfig* config);
  virtual ~TVideoAdapterBuilder();
  TVideoAdapterBuilder(const TVideoAdapterBuilder&) = delete;
  TVideoAdapterBuilder& operator=(const TVideoAdapterBuilder&) = delete;

  // At least one adapter was kept.
  bool IsReady() const { return Ready; }
  // One adapter per physical adapter, in library order.
  const VideoAdapters* GetAdapters() const { return &UniqueAdapters; }
  // Every adapter object created (duplicates of one physical adapter included).
  size_t GetAdapterObjectCount() const { return AllAdapters.size(); }
  // Makes the adapter at that position of GetAdapters() the active one; false (and nothing
  // changes) outside the list.
  bool SetActiveAdapter(int32_t position);
  int32_t GetActiveAdapterIndex() const { return ActiveIndex; }
  // Null when no adapter is active.
  IVideoAdapter* GetActiveAdapter() const;

  // Why no adapter was kept, said for the operator (empty when one was): what the display
  // library lacked or answered. Another source of adapters (one that lists the machine's cards
  // without the display library) gives its own reason in its place; the connection step prints
  // whatever stands here after its "no adapter" message.
  const std::string& NoAdapterReason() const { return Reason; }
  void SetNoAdapterReason(std::string reason) { Reason = std::move(reason); }

 private:
  void Enumerate(TADL* adl);
  void RecordAdapters(const TAdapterRegInfos& registrations);

  bool Ready = false;
  std::vector<std::unique_ptr<IVideoAdapter>> AllAdapters;
  VideoAdapters UniqueAdapters;  // a subset of AllAdapters; owns nothing
  int32_t ActiveIndex = -1;
  TConfig* Config = nullptr;
  TADL* Adl = nullptr;
  std::string Reason;
};

// The process-wide instance slot. The first call creates the instance (which enumerates);
// later calls return the same slot. Callers treat a null slot or instance as the absence of
// the display library. Never destroyed.
TVideoAdapterBuilder** GetVideoAdapterBuilder();

}  // namespace brumel
