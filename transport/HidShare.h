// The sharing area of a HID device: a small named shared record and the named mutex that guards
// it, both named after the device, so that every process that selects the device meets the
// same two system objects.
#pragma once
#include <cstdint>
#include <string>

#include "platform/NamedMutex.h"
#include "platform/SharedMemory.h"

namespace brumel {

// The shared record: zero when the area is first created on the machine.
struct CHidShare {
  uint32_t Value;
};
static_assert(sizeof(CHidShare) == 4);

// A named mutex with a count of the waits that got it and are not yet released.
class COneInstance2 {
 public:
  static constexpr size_t kNameSize = 256;
  static constexpr int64_t kNoTimeLimit = -1;

  COneInstance2();
  virtual ~COneInstance2();
  COneInstance2(const COneInstance2&) = delete;
  COneInstance2& operator=(const COneInstance2&) = delete;

  // Names the mutex "<baseName>-5004780a-b256-43f3-88f5-1c1a798e40b3" (cut to 255 characters).
  virtual void SetName(const std::string& baseName);
  // Creates or opens the named mutex, unless it is open already or a wait is still counted.
  virtual void Open();
  virtual void Close();
  // Waits up to timeoutMs (kNoTimeLimit: no limit). A wait that gets the mutex adds 1 to the
  // count, also when the previous owner ended without releasing it (the mutex is ours then, and
  // the matching Release must free it). Without a mutex the count becomes 0.
  virtual void Wait(int64_t timeoutMs);
  // Gives back one counted wait. Throws std::runtime_error("ReleaseMutex(m_hMutexOneInstance)")
  // when the system refuses the release.
  virtual void Release();
  // Open, then Wait; Close again when the wait got nothing.
  virtual void TryAcquire(int64_t timeoutMs);
  virtual void ReleaseAndClose();
  virtual bool IsLocked() const;

  uint32_t GetLockCount() const { return LockCount; }
  const char* GetName() const { return MutexName; }
  bool IsOpen() const { return m_hMutexOneInstance.IsOpen(); }

 private:
  plat::NamedMutex m_hMutexOneInstance;
  uint32_t LockCount = 0;
  char MutexName[kNameSize];
};

// A named shared record of type T, guarded by a COneInstance2 of the same base name.
template <typename T>
class ShareArea {
 public:
  static constexpr size_t kNameSize = 256;

  ShareArea();
  virtual ~ShareArea();
  ShareArea(const ShareArea&) = delete;
  ShareArea& operator=(const ShareArea&) = delete;

  // Names the area "<baseName>-12d3688b-44c0-412a-85dd-5ebcfea9f503" (cut to 255 characters) and
  // its mutex after the same base name.
  virtual void SetName(const std::string& baseName);
  // Unmaps and closes the area, then closes the mutex.
  virtual void Close();
  // Creates or opens the area under the mutex; a newly created record is zeroed.
  virtual void Open();
  // The record, for code between Lock and Unlock. Throws std::runtime_error("share area not
  // locked") outside such a bracket.
  virtual T* Get();
  // Waits for the mutex without a time limit; the record, or null when the area is not mapped.
  virtual T* Lock();
  // Writes the record back and releases the mutex.
  virtual void Unlock();

  const char* GetName() const { return AreaName; }
  bool IsOpen() const { return View != nullptr; }
  COneInstance2& GetMutex() { return AreaMutex; }

 private:
  plat::SharedMemory MappingHandle;
  T* View = nullptr;
  char AreaName[kNameSize];
  COneInstance2 AreaMutex;
};

extern template class ShareArea<CHidShare>;

}  // namespace brumel
